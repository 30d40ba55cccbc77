// Start-up, closing, the menu, the About box, the help file, the folder
// browser and the skin, through the real window.

#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include "app/control_ids.h"
#include "app/texts.h"
#include "gui/about_box.h"
#include "gui/options_box.h"
#include "gui/desktop_handlers.h"
#include "gui/qt_translations.h"
#include "gui/skin.h"
#include "gui_test_support.h"

using namespace tessaro;
using namespace tessaro::gui;
using namespace tessaro::guitest;

namespace {

// Calls `act` with the application's modal widget of type T once one is open.
template <class T>
void WhenModal(QObject* context, std::function<void(T*)> act) {
  auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
  if (widget == nullptr) {
    QTimer::singleShot(10, context, [context, act] { WhenModal<T>(context, act); });
    return;
  }
  act(widget);
}

bool Write(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The help's compiled file and its HTML pages, as installed.
const QString kHelpPages = QStringLiteral("help/index.html");

// A style that asks for pictures on the standard buttons, as the desktop
// styles of X11 do (the offscreen platform's does not).
class PicturesOnButtons : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

// What a real message box of the window showed.
struct BoxSeen {
  QStringList buttons;
  bool anyIcon = false;
  Qt::WindowFlags flags;
  bool fixedSize = false;
};

BoxSeen Look(QMessageBox* box) {
  BoxSeen seen;
  for (QAbstractButton* button : box->buttons()) {
    seen.buttons << button->text();
    seen.anyIcon = seen.anyIcon || !button->icon().isNull();
  }
  seen.anyIcon = seen.anyIcon || box->icon() != QMessageBox::NoIcon || !box->iconPixmap().isNull();
  seen.flags = box->windowFlags();
  seen.fixedSize = box->minimumSize() == box->maximumSize();
  return seen;
}

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SampleFolder> sample_;
  std::unique_ptr<ScriptedWindow> window_;
  std::unique_ptr<MainDialog> dialog_;
  QString startDir_;

  void Open(const QString& catalogue) {
    window_ = std::make_unique<ScriptedWindow>();
    dialog_ = std::make_unique<MainDialog>(*window_, catalogue.toStdString());
    window_->Attach(*dialog_);
    window_->Initialise();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  QTableWidget* List() { return qobject_cast<QTableWidget*>(window_->Control(ids::kKindList)); }

 private slots:
  void initTestCase() { startDir_ = QDir::currentPath(); }

  void init() { sample_ = MakeSampleFolder(); }

  void cleanup() {
    QDir::setCurrent(startDir_);
    dialog_.reset();
    window_.reset();
    sample_.reset();
    qApp->setStyleSheet(QString());
  }

  void startUpListsTheConfiguredKindsInCatalogueOrder() {
    Open(sample_->catalogue);
    QVERIFY(window_->messages.empty());
    const QStringList names = SampleKindNames();
    const QStringList extensions = SampleKindExtensions();
    QCOMPARE(ControlText(*window_, ids::kKindCount), QString::number(names.size()));
    QCOMPARE(List()->rowCount(), names.size());  // the built-in text kind has no row of its own
    for (int row = 0; row < names.size(); ++row) {
      QCOMPARE(List()->item(row, 0)->text(), names[row]);
      QCOMPARE(List()->item(row, 1)->text(), extensions[row]);
      QCOMPARE(List()->item(row, 2)->text(), QStringLiteral("0"));
    }
    QCOMPARE(ProgressValue(*window_, ids::kTotalProgress), 0);
    QCOMPARE(ProgressValue(*window_, ids::kFileProgress), 0);
  }

  void aCatalogueThatFailsShowsTheErrorBoxAndNoKinds_data() {
    QTest::addColumn<QByteArray>("contents");  // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("no section") << QByteArray("; only a remark\n");
    QTest::newRow("line starting with a tab") << QByteArray("[A]\noffset = 0\n\tsignature = 41\n");
  }
  void aCatalogueThatFailsShowsTheErrorBoxAndNoKinds() {
    QFETCH(QByteArray, contents);
    QString path = sample_->root.filePath("broken.cfg");
    if (!contents.isEmpty()) QVERIFY(Write(path, contents));
    Open(path);
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(window_->messages[0].caption, QString::fromUtf8(texts::kCatalogueErrorCaption));
    QVERIFY2(window_->messages[0].text.startsWith("default configure file "),
             qPrintable(window_->messages[0].text));
    QCOMPARE(ControlText(*window_, ids::kKindCount), QStringLiteral("0"));
    QCOMPARE(List()->rowCount(), 0);
    QCOMPARE(List()->columnCount(), 3);
    // The window stays usable: a pass still starts and ends, counting nothing.
    window_->folderAnswers.push_back(sample_->fragments);
    Click(*window_, ids::kChooseSource);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->WorkerAlive(), 60000);
    QCOMPARE(window_->messages.size(), std::size_t{1});
  }

  void enterDoesNotCloseTheWindowButEscapeDoes() {
    Open(sample_->catalogue);
    QTest::keyClick(window_->Control(ids::kSourceEdit), Qt::Key_Return);
    QTest::keyClick(window_->Control(ids::kSourceEdit), Qt::Key_Enter);
    QVERIFY(window_->isVisible());
    QVERIFY(window_->messages.empty());
    // On a button Enter presses that button, as anywhere.
    window_->Control(ids::kDetect)->setFocus();
    QTest::keyClick(window_->Control(ids::kDetect), Qt::Key_Return);
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(window_->messages[0].caption, QString::fromUtf8(texts::kParamError));
    QVERIFY(window_->isVisible());

    QTest::keyClick(window_->Control(ids::kSourceEdit), Qt::Key_Escape);
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->result(), int(QDialog::Rejected));
  }

  void theCloseBoxAndExitCloseTheWindow() {
    Open(sample_->catalogue);
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->MenuCommand(ids::kExit)->trigger();
    QVERIFY(!window_->isVisible());
    QCOMPARE(window_->result(), int(QDialog::Rejected));
  }

  void startAndEndInTheFileMenuStartAndStopADetection() {
    Open(sample_->catalogue);
    // Without a folder "开始" says so, as "检测" does.
    window_->MenuCommand(ids::kMenuStart)->trigger();
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(window_->messages[0].caption, QString::fromUtf8(texts::kParamError));
    window_->MenuCommand(ids::kMenuEnd)->trigger();
    QVERIFY(!dialog_->WorkerAlive());
    window_->folderAnswers.push_back(sample_->fragments);
    Click(*window_, ids::kChooseSource);
    window_->MenuCommand(ids::kMenuStart)->trigger();
    QVERIFY(!window_->Control(ids::kDetect)->isEnabled());
    window_->MenuCommand(ids::kMenuEnd)->trigger();
    QVERIFY(window_->Control(ids::kDetect)->isEnabled());
    QVERIFY(!window_->Control(ids::kStopDetect)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->WorkerAlive(), 60000);
    QCOMPARE(window_->messages.size(), std::size_t{1});
  }

  void theOptionsBoxShowsAndReturnsTheOptions() {
    Open(sample_->catalogue);
    RecoveryOptions shown;
    shown.split = true;
    shown.names = RecoveryOptions::Names::kContent;
    dialog_->ApplyOptions(shown);
    bool owned = false, showedThem = false;
    WhenModal<gui::OptionsBox>(window_.get(), [&](gui::OptionsBox* box) {
      owned = box->parentWidget() == window_.get();
      showedThem = box->Options() == shown;
      QTest::mouseClick(box->findChild<QCheckBox*>("ctl1101"), Qt::LeftButton);
      QTest::mouseClick(box->findChild<QRadioButton*>("ctl1105"), Qt::LeftButton);
      QTest::mouseClick(box->findChild<QCheckBox*>("ctl1107"), Qt::LeftButton);
      QTest::mouseClick(box->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
    });
    window_->MenuCommand(ids::kOptions)->trigger();
    QVERIFY(owned);
    QVERIFY(showedThem);
    RecoveryOptions wanted = shown;
    wanted.trim = true;
    wanted.names = RecoveryOptions::Names::kOriginal;
    wanted.report = true;
    QVERIFY(dialog_->Options() == wanted);
    // Escape leaves them as they were.
    WhenModal<gui::OptionsBox>(window_.get(), [&](gui::OptionsBox* box) {
      QTest::mouseClick(box->findChild<QCheckBox*>("ctl1106"), Qt::LeftButton);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    window_->MenuCommand(ids::kOptions)->trigger();
    QVERIFY(dialog_->Options() == wanted);
  }

  void aboutOpensTheRealAboutBoxWhichOkAndEscapeClose() {
    Open(sample_->catalogue);
    window_->realAboutBox = true;
    QString caption, version;
    bool hasIcon = false, owned = false;
    WhenModal<AboutBox>(window_.get(), [&](AboutBox* box) {
      caption = box->windowTitle();
      version = box->findChild<QLabel*>("tpl1")->text();
      hasIcon = !box->findChild<QLabel*>("tpl0")->pixmap().isNull();
      owned = box->parentWidget() == window_.get();
      QTest::mouseClick(box->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
    });
    window_->MenuCommand(ids::kAbout)->trigger();
    QCOMPARE(window_->aboutBoxes, 1);
    QCOMPARE(caption, QString::fromUtf8(texts::kAboutCaption));
    QCOMPARE(version, QStringLiteral("Tessaro V3.40"));
    QVERIFY(hasIcon);
    QVERIFY(owned);

    bool closedByEscape = false;
    WhenModal<AboutBox>(window_.get(), [&](AboutBox* box) {
      QTest::keyClick(box, Qt::Key_Escape);
      closedByEscape = !box->isVisible();
    });
    window_->MenuCommand(ids::kAbout)->trigger();
    QVERIFY(closedByEscape);
    // The main window is not closed by the About box's Escape.
    QVERIFY(window_->isVisible());
    // The system menu's command reaches the same box.
    window_->realAboutBox = false;
    window_->Command(ids::kSysAbout);
    QCOMPARE(window_->aboutBoxes, 3);
  }

  void helpOpensHelpChmOfTheCurrentFolder() {
    Open(sample_->catalogue);
    QVERIFY(QDir::setCurrent(sample_->root.path()));
    QVERIFY(Write("help.chm", "ITSF"));
    window_->MenuCommand(ids::kHelpContents)->trigger();
    QCOMPARE(window_->launched, QStringList{QDir(sample_->root.path()).absoluteFilePath("help.chm")});
    QVERIFY(window_->messages.empty());
  }

  void helpOpensInAViewerOrAsPagesInTheBrowser_data() {
    QTest::addColumn<bool>("viewer");    // the desktop has a program for .chm files
    QTest::addColumn<bool>("pages");     // help/index.html is installed beside help.chm
    QTest::addColumn<QString>("opened");
    QTest::newRow("a CHM viewer") << true << true << "help.chm";
    QTest::newRow("no viewer: the pages") << false << true << kHelpPages;
    // Nothing better to offer: the desktop is handed the file, as before.
    QTest::newRow("no viewer, no pages") << false << false << "help.chm";
  }
  void helpOpensInAViewerOrAsPagesInTheBrowser() {
    QFETCH(bool, viewer);
    QFETCH(bool, pages);
    QFETCH(QString, opened);
    Open(sample_->catalogue);
    QVERIFY(QDir::setCurrent(sample_->root.path()));
    QVERIFY(Write("help.chm", "ITSF"));
    if (pages) QVERIFY(Write(kHelpPages, "<html></html>"));
    window_->desktopOpensDocuments = viewer;
    window_->MenuCommand(ids::kHelpContents)->trigger();
    QCOMPARE(window_->launched, QStringList{QDir(sample_->root.path()).absoluteFilePath(opened)});
    QVERIFY(window_->messages.empty());
  }

  void theDesktopKnowsWhichProgramsOpenAType_data() {
    // Files of a desktop: path below a scratch root -> contents. Config lists
    // live in "config" and "etc", applications in "home" and "usr".
    using Files = QMap<QString, QByteArray>;
    QTest::addColumn<Files>("files");
    QTest::addColumn<QStringList>("desktops");
    QTest::addColumn<bool>("handled");
    const QByteArray viewer = "[Desktop Entry]\nType=Application\nName=xCHM\nExec=xchm %f\n"
                              "MimeType=application/vnd.ms-htmlhelp;\n";
    const QByteArray plain = "[Desktop Entry]\nType=Application\nName=Reader\nExec=reader %f\n";
    QTest::newRow("no programs") << Files{} << QStringList{} << false;
    QTest::newRow("a viewer lists the type") << Files{{"usr/xchm.desktop", viewer}} << QStringList{} << true;
    QTest::newRow("a viewer lists an alias")
        << Files{{"usr/kde/kchm.desktop", "[Desktop Entry]\nType=Application\nMimeType=text/plain;application/x-chm;\n"}}
        << QStringList{} << true;
    QTest::newRow("programs for other types")
        << Files{{"usr/editor.desktop", "[Desktop Entry]\nType=Application\nMimeType=text/plain;\n"},
                 {"usr/link.desktop", "[Desktop Entry]\nType=Link\nMimeType=application/vnd.ms-htmlhelp;\n"}}
        << QStringList{} << false;
    QTest::newRow("the user hid the viewer")
        << Files{{"usr/xchm.desktop", viewer}, {"home/xchm.desktop", "[Desktop Entry]\nHidden=true\n"}}
        << QStringList{} << false;
    QTest::newRow("the user took the association off")
        << Files{{"usr/xchm.desktop", viewer},
                 {"config/mimeapps.list", "[Removed Associations]\napplication/vnd.ms-htmlhelp=xchm.desktop;\n"}}
        << QStringList{} << false;
    QTest::newRow("an association added for a program")
        << Files{{"usr/reader.desktop", plain},
                 {"etc/mimeapps.list", "[Added Associations]\napplication/x-chm=reader.desktop;\n"}}
        << QStringList{} << true;
    QTest::newRow("a removal in the user's list outweighs the system's addition")
        << Files{{"usr/reader.desktop", plain},
                 {"config/mimeapps.list", "[Removed Associations]\napplication/x-chm=reader.desktop;\n"},
                 {"etc/mimeapps.list", "[Added Associations]\napplication/x-chm=reader.desktop;\n"}}
        << QStringList{} << false;
    QTest::newRow("a default that is not installed")
        << Files{{"config/mimeapps.list", "[Default Applications]\napplication/vnd.ms-htmlhelp=gone.desktop\n"}}
        << QStringList{} << false;
    QTest::newRow("a default of this desktop's own list")
        << Files{{"usr/reader.desktop", plain},
                 {"config/xfce-mimeapps.list", "[Default Applications]\napplication/vnd.ms-htmlhelp=reader.desktop\n"}}
        << QStringList{"xfce"} << true;
  }
  void theDesktopKnowsWhichProgramsOpenAType() {
    using Files = QMap<QString, QByteArray>;
    QFETCH(Files, files);
    QFETCH(QStringList, desktops);
    QFETCH(bool, handled);
    QDir root(sample_->root.path());
    for (auto it = files.cbegin(); it != files.cend(); ++it) QVERIFY(Write(root.filePath(it.key()), it.value()));
    DesktopFolders folders;
    folders.config = {root.filePath("config"), root.filePath("etc")};
    folders.applications = {root.filePath("home"), root.filePath("usr")};
    folders.desktops = desktops;
    QCOMPARE(DesktopHasHandler({"application/vnd.ms-htmlhelp", "application/x-chm"}, folders), handled);
  }

  void aMissingHelpFileIsReported() {
    Open(sample_->catalogue);
    QVERIFY(QDir::setCurrent(sample_->fragments));  // no help.chm here
    // Pages without the help file do not stand in for it.
    QVERIFY(Write(kHelpPages, "<html></html>"));
    window_->desktopOpensDocuments = false;
    window_->realMessageBoxes = true;
    QString text, caption;
    WhenModal<QMessageBox>(window_.get(), [&](QMessageBox* box) {
      text = box->text();
      caption = box->windowTitle();
      box->button(QMessageBox::Ok)->click();
    });
    window_->MenuCommand(ids::kHelpContents)->trigger();
    QVERIFY(window_->launched.isEmpty());
    QCOMPARE(text, QString::fromUtf8(texts::kHelpMissing));
    QCOMPARE(caption, QString::fromUtf8(texts::kHelpMissingCaption));
  }

  void messageBoxesHaveOkOnlyInTheWindowsLanguage_data() {
    QTest::addColumn<bool>("translated");  // Qt's translations are installed
    QTest::addColumn<QString>("ok");
    QTest::addColumn<QString>("folderType");  // a folder's type in Qt's folder browser
    QTest::newRow("Qt's translations") << true << QStringLiteral("确定") << QStringLiteral("文件夹");
    QTest::newRow("none installed") << false << QStringLiteral("OK") << QStringLiteral("Folder");
  }
  void messageBoxesHaveOkOnlyInTheWindowsLanguage() {
    QFETCH(bool, translated);
    QFETCH(QString, ok);
    QFETCH(QString, folderType);
    const QString folder = translated ? QtTranslationsFolder() : sample_->root.path();
    std::unique_ptr<QTranslator> translator(LoadQtTranslations(*qApp, folder));
    QVERIFY2((translator != nullptr) == translated,
             qPrintable("Qt's Chinese texts in " + folder + " (scripts/install-deps installs them)"));
    // A text Qt's own catalogue lacks.
    QCOMPARE(QAbstractFileIconProvider().type(QFileInfo(sample_->fragments)), folderType);
    const QString style = qApp->style()->name();
    QApplication::setStyle(new PicturesOnButtons);
    Open(sample_->catalogue);
    window_->realMessageBoxes = true;
    BoxSeen seen;
    WhenModal<QMessageBox>(window_.get(), [&](QMessageBox* box) {
      seen = Look(box);
      QTest::keyClick(box, Qt::Key_Return);
    });
    Click(*window_, ids::kDetect);  // no folder: "参数错误"
    QApplication::setStyle(style);
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(seen.buttons, QStringList{ok});
    QVERIFY(!seen.anyIcon);
    QVERIFY(!(seen.flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(seen.flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(seen.flags & Qt::WindowCloseButtonHint);
    QVERIFY(seen.fixedSize);
  }

  void qtsFolderBrowserSpeaksChineseAndOpensWhereTheUserWasLast() {
    std::unique_ptr<QTranslator> translator(LoadQtTranslations(*qApp));
    QVERIFY(translator);
    Open(sample_->catalogue);
    window_->realFolderBrowser = true;
    QDir root(sample_->root.path());
    QVERIFY(root.mkpath("later/gone"));
    // Each time the browser opens: where it opened, then what it chooses ("" cancels).
    QStringList openedAt, buttons, labels;
    std::deque<QString> answers;
    std::function<void(QFileDialog*)> answer = [&](QFileDialog* browser) {
      openedAt << QDir(browser->directory()).canonicalPath();
      if (buttons.isEmpty()) {
        for (QAbstractButton* b : browser->findChild<QDialogButtonBox*>()->buttons()) buttons << b->text();
        for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
          labels << browser->findChild<QLabel*>(name)->text();
      }
      const QString chosen = answers.front();
      answers.pop_front();
      if (chosen.isEmpty()) {
        browser->reject();
        return;
      }
      browser->setDirectory(chosen);
      static_cast<QDialog*>(browser)->accept();
    };
    auto browse = [&](int button, const QString& chosen) {
      answers.push_back(chosen);
      WhenModal<QFileDialog>(window_.get(), answer);
      Click(*window_, button);
    };
    browse(ids::kChooseSource, sample_->fragments);
    browse(ids::kChooseSource, QString());                  // cancelled ...
    browse(ids::kChooseDest, root.filePath("later/gone"));  // ... the source's parent
    QVERIFY(root.rmpath("later/gone"));
    browse(ids::kChooseSource, QString());                  // ... still where it was
    browse(ids::kChooseDest, QString());                    // a folder since removed
    QCOMPARE(openedAt, QStringList({QDir::home().canonicalPath(), QDir(sample_->fragments).canonicalPath(),
                                    root.canonicalPath(), QDir(sample_->fragments).canonicalPath(),
                                    root.canonicalPath()}));
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QString());
    // Qt's own browser in Chinese, nothing of it left in English.
    QCOMPARE(buttons.size(), 2);
    for (const QString& text : buttons + labels) {
      QVERIFY2(!text.contains(QRegularExpression("[A-Za-z]{2}")), qPrintable(text));
    }
    QVERIFY2(buttons.join(' ').contains(QStringLiteral("取消")), qPrintable(buttons.join(' ')));
  }

  void theFolderBrowserAsksAndCancellingEmptiesTheFolder() {
    Open(sample_->catalogue);
    window_->folderAnswers = {sample_->fragments, QString()};
    Click(*window_, ids::kChooseSource);
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QDir::toNativeSeparators(sample_->fragments));
    Click(*window_, ids::kChooseSource);
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QString());
    QVERIFY(dialog_->m_sourceFolder.empty());
    window_->folderAnswers = {sample_->destination};
    Click(*window_, ids::kChooseDest);
    QCOMPARE(ControlText(*window_, ids::kDestEdit), QDir::toNativeSeparators(sample_->destination));
    QCOMPARE(window_->folderPrompts,
             QStringList({texts::kSourcePrompt, texts::kSourcePrompt, texts::kDestPrompt}));
    // With the source cancelled, "恢复" asks for it before anything else.
    Click(*window_, ids::kRecover);
    QCOMPARE(window_->messages.size(), std::size_t{1});
    QCOMPARE(window_->messages[0].text, QString::fromUtf8(texts::kNoSource));
    QCOMPARE(window_->messages[0].caption, QString::fromUtf8(texts::kParamError));
  }

  void theRealFolderBrowserChoosesAndCancels() {
    Open(sample_->catalogue);
    window_->realFolderBrowser = true;
    QString title;
    bool owned = false;
    WhenModal<QFileDialog>(window_.get(), [&](QFileDialog* browser) {
      title = browser->windowTitle();
      owned = browser->parentWidget() == window_.get();
      browser->setDirectory(sample_->fragments);
      static_cast<QDialog*>(browser)->accept();
    });
    Click(*window_, ids::kChooseSource);
    QCOMPARE(title, QString::fromUtf8(texts::kSourcePrompt));
    QVERIFY(owned);
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QDir::toNativeSeparators(sample_->fragments));

    WhenModal<QFileDialog>(window_.get(), [](QFileDialog* browser) { browser->reject(); });
    Click(*window_, ids::kChooseSource);
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QString());
    QVERIFY(dialog_->m_sourceFolder.empty());
  }

  void theSkinIsAppliedWhenItIsAReadableStyleSheet() {
    QDir root(sample_->root.path());
    const QString sheet = "QPushButton { color: #123456; }";
    QVERIFY(Write(root.filePath("good.ssk"), sheet.toUtf8()));
    QVERIFY(Write(root.filePath("binary.ssk"), QByteArray("SKIN\0\1\2\3", 8)));
    QVERIFY(Write(root.filePath("latin1.ssk"), QByteArray("QLabel { color: red; } /* caf\xe9 */")));
    QVERIFY(root.mkdir("folder.ssk"));

    QVERIFY(!LoadSkin(*qApp, root.filePath("missing.ssk")));
    QVERIFY(!LoadSkin(*qApp, root.filePath("folder.ssk")));
    QVERIFY(!LoadSkin(*qApp, root.filePath("binary.ssk")));
    QVERIFY(!LoadSkin(*qApp, root.filePath("latin1.ssk")));
    QCOMPARE(qApp->styleSheet(), QString());
    QVERIFY(LoadSkin(*qApp, root.filePath("good.ssk")));
    QCOMPARE(qApp->styleSheet(), sheet);
  }

  void theShippedSkinParsesAndStylesTheWindow() {
    QStringList complaints;
    static QStringList* sink = nullptr;
    sink = &complaints;
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
      if (m.contains("stylesheet", Qt::CaseInsensitive) || m.contains("style sheet", Qt::CaseInsensitive))
        sink->push_back(m);
    });
    QVERIFY(LoadSkin(*qApp, QStringLiteral(TESSARO_SOURCE_DIR "/resources/skin/") + kSkinFile));
    Open(sample_->catalogue);
    window_->grab();  // paints every control with the sheet
    qInstallMessageHandler(previous);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
    QVERIFY(!qApp->styleSheet().isEmpty());
    // The skin changes looks, never the template's places.
    QCOMPARE(window_->Control(ids::kDetect)->geometry().size(),
             window_->Control(ids::kRecover)->geometry().size());
  }
};

QTEST_MAIN(ShellTest)
#include "window_shell_test.moc"
