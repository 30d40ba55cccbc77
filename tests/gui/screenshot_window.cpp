// The window as a user sees it after a detection pass, for the screenshot in
// docs/: make_screenshot.sh runs it on an X display and photographs it.
//   screenshot_window <catalogue> <skin> <fragment folder>
// The folder browser is answered with the folder and "检测" is clicked; once the
// pass has ended the program prints "ready" and stays open until it is ended.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/control_ids.h"
#include "gui/program_icon.h"
#include "gui/skin.h"
#include "gui_test_support.h"

using namespace tessaro;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <catalogue> <skin> <fragment folder>\n", argv[0]);
    return 2;
  }
  QApplication::setWindowIcon(gui::ProgramIcon());
  gui::LoadSkin(app, QString::fromLocal8Bit(argv[2]));
  guitest::ScriptedWindow window;
  MainDialog dialog(window, argv[1]);
  window.Attach(dialog);
  window.Initialise();
  window.show();
  window.folderAnswers.push_back(QString::fromLocal8Bit(argv[3]));
  QTimer::singleShot(500, &window, [&] {
    guitest::Click(window, ids::kChooseSource);
    guitest::Click(window, ids::kDetect);
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&, poll] {
      if (dialog.WorkerAlive()) return;
      poll->stop();
      // The focus off the buttons, as after a click elsewhere.
      window.Control(ids::kInfo)->setFocus();
      std::printf("ready\n");
      std::fflush(stdout);
    });
    poll->start(50);
  });
  return app.exec();
}
