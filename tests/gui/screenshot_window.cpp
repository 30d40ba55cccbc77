// The window as a user sees it, for the screenshots in docs/: make_screenshot.sh
// runs it on an X display and photographs it.
//   screenshot_window <catalogue> <skin> <fragment folder> [detected|browser|message|options]
// The folder browser is answered with the fragment folder, then
//   detected (the default): "检测" is clicked and the pass runs to its end;
//   browser: the real browser of the destination is opened (beside the fragments);
//   message: "检测" is clicked with no folder chosen, which the box refuses;
//   options: the options box of menu "选项(&O)...", with splitting, rescue and
//   cutting at the true end chosen.
// Once there is something to see the program prints "ready" and stays open
// until it is ended.

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/control_ids.h"
#include "gui/options_box.h"
#include "gui/program_icon.h"
#include "gui/qt_translations.h"
#include "gui/skin.h"
#include "gui_test_support.h"

using namespace tessaro;

namespace {

void Ready() {
  std::printf("ready\n");
  std::fflush(stdout);
}

// Says "ready" once `seen` holds, looking every 50 ms.
void ReadyWhen(QObject* context, std::function<bool()> seen) {
  auto* poll = new QTimer(context);
  QObject::connect(poll, &QTimer::timeout, context, [poll, seen] {
    if (!seen()) return;
    poll->stop();
    Ready();
  });
  poll->start(50);
}

template <class T>
bool ModalIs() {
  return qobject_cast<T*>(QApplication::activeModalWidget()) != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s <catalogue> <skin> <fragment folder> [detected|browser|message|options]\n", argv[0]);
    return 2;
  }
  const char* scene = argc == 5 ? argv[4] : "detected";
  QApplication::setWindowIcon(gui::ProgramIcon());
  gui::LoadQtTranslations(app);
  gui::LoadSkin(app, QString::fromLocal8Bit(argv[2]));
  guitest::ScriptedWindow window;
  MainDialog dialog(window, argv[1]);
  window.Attach(dialog);
  window.Initialise();
  window.show();
  window.folderAnswers.push_back(QString::fromLocal8Bit(argv[3]));
  QTimer::singleShot(500, &window, [&] {
    if (std::strcmp(scene, "message") == 0) {
      window.realMessageBoxes = true;
      ReadyWhen(&window, ModalIs<QMessageBox>);
      guitest::Click(window, ids::kDetect);
      return;
    }
    if (std::strcmp(scene, "options") == 0) {
      RecoveryOptions shown;
      shown.trim = shown.split = shown.rescue = true;
      dialog.ApplyOptions(shown);
      ReadyWhen(&window, ModalIs<gui::OptionsBox>);
      window.MenuCommand(ids::kOptions)->trigger();
      return;
    }
    guitest::Click(window, ids::kChooseSource);
    if (std::strcmp(scene, "browser") == 0) {
      window.realFolderBrowser = true;
      ReadyWhen(&window, ModalIs<QFileDialog>);
      guitest::Click(window, ids::kChooseDest);
      return;
    }
    guitest::Click(window, ids::kDetect);
    ReadyWhen(&window, [&] {
      if (dialog.WorkerAlive()) return false;
      // The focus off the buttons, as after a click elsewhere.
      window.Control(ids::kInfo)->setFocus();
      return true;
    });
  });
  return app.exec();
}
