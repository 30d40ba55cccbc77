// Start-up, closing, the menu, the About box, the help file, the folder
// browser and the skin, through the real window.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "app/control_ids.h"
#include "app/texts.h"
#include "gui/about_box.h"
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
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

  void startAndEndInTheFileMenuDoNothing() {
    Open(sample_->catalogue);
    window_->MenuCommand(ids::kMenuStart)->trigger();
    window_->MenuCommand(ids::kMenuEnd)->trigger();
    QVERIFY(window_->isVisible());
    QVERIFY(window_->messages.empty());
    QVERIFY(!dialog_->WorkerAlive());
    QCOMPARE(window_->aboutBoxes, 0);
    QVERIFY(window_->launched.isEmpty());
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

  void aMissingHelpFileIsReported() {
    Open(sample_->catalogue);
    QVERIFY(QDir::setCurrent(sample_->fragments));  // no help.chm here
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
