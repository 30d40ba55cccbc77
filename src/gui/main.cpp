// tessaro: the window. Reads tessaro.cfg, help.chm and xp_corona.ssk from the
// current directory, as the program always has; the desktop entry starts it in
// the installed share/tessaro folder.

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>

#include "app/main_dialog.h"
#include "app/version.h"
#include "catalog/fragment_engine.h"
#include "gui/program_icon.h"
#include "gui/qt_dialog_window.h"
#include "gui/qt_translations.h"
#include "gui/skin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tessaro"));
  QApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
  // Matches the desktop entry, so Wayland compositors find the icon.
  QApplication::setDesktopFileName(QStringLiteral("tessaro"));
  QApplication::setWindowIcon(tessaro::gui::ProgramIcon());

  QCommandLineParser options;
  options.setApplicationDescription(QStringLiteral("Recovers the fragment files a disk check left behind."));
  options.addHelpOption();
  options.addVersionOption();
  QCommandLineOption config(QStringLiteral("config"),
                            QStringLiteral("Read the catalogue from <file> instead of ./tessaro.cfg."),
                            QStringLiteral("file"), QString::fromUtf8(tessaro::FragmentEngine::kDefaultConfig));
  options.addOption(config);
  if (!options.parse(QApplication::arguments())) {
    QTextStream(stderr) << options.errorText() << "\n";
    return 2;
  }
  if (options.isSet(QStringLiteral("help"))) options.showHelp(0);
  if (options.isSet(QStringLiteral("version"))) options.showVersion();
  if (!options.positionalArguments().isEmpty()) {
    QTextStream(stderr) << "tessaro: unexpected argument " << options.positionalArguments().front()
                        << " (see --help)\n";
    return 2;
  }

  // After the options, which answer on the terminal in English; before any
  // dialog, so Qt's own buttons and browser speak the window's language.
  tessaro::gui::LoadQtTranslations(app);

  // The skin first: every widget made after this takes its look.
  tessaro::gui::LoadSkin(app, QString::fromUtf8(tessaro::gui::kSkinFile));

  tessaro::gui::QtDialogWindow window;
  // The dialog after the window, so it is gone (its worker ended) before the window goes.
  tessaro::MainDialog dialog(window, options.value(config).toStdString());
  // The options box's last choice; the defaults where none was kept.
  dialog.UseSettingsFolder(tessaro::UserSettingsFolder());
  window.Attach(dialog);
  window.RunModal();
  return 0;
}
