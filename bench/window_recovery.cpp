// tessaro-window-recovery: one recovery through the real window, unattended.
//
//   tessaro-window-recovery [--config FILE] FOLDER DEST
//
// Builds the window as the program does (QtDialogWindow with its MainDialog),
// sets the two folders as the folder browser would, presses "恢复" (1023) and
// closes the window once the recovery worker has ended. Every call of the
// worker into the window goes the way it goes for a user: carried to the
// window's thread, which the worker waits for. Prints the seconds from the
// press to the end. Run it with QT_QPA_PLATFORM=offscreen where there is no
// display.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "gui/qt_dialog_window.h"

int main(int argc, char** argv) {
  std::string config = tessaro::FragmentEngine::kDefaultConfig;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) config = argv[++i];
    else operands.emplace_back(argv[i]);
  }
  if (operands.size() != 2) {
    std::fputs("usage: tessaro-window-recovery [--config FILE] FOLDER DEST\n", stderr);
    return 2;
  }
  QApplication app(argc, argv);
  tessaro::gui::QtDialogWindow window;
  tessaro::MainDialog dialog(window, config);
  window.Attach(dialog);

  QElapsedTimer clock;
  bool started = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (started && !dialog.WorkerAlive()) {
      poll.stop();
      std::printf("%.6f\n", static_cast<double>(clock.nsecsElapsed()) / 1e9);
      window.accept();
    }
  });
  QTimer::singleShot(0, [&] {
    dialog.SetSourceFolder(operands[0]);
    dialog.SetDestFolder(operands[1]);
    auto* recover = qobject_cast<QAbstractButton*>(window.Control(tessaro::ids::kRecover));
    if (recover == nullptr) {
      std::fputs("tessaro-window-recovery: no button 1023\n", stderr);
      window.reject();
      return;
    }
    clock.start();
    recover->click();
    started = true;
    poll.start(1);
  });
  window.RunModal();
  return started ? 0 : 1;
}
