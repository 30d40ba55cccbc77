// Both passes driven through the real window: the buttons clicked with the
// mouse, the run states read back from the widgets, the counts, texts and bars
// after passes over real files, stops, a worker's message box, and closing the
// window while a pass runs.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/control_ids.h"
#include "app/texts.h"
#include "gui_test_support.h"

using namespace tessaro;
using namespace tessaro::guitest;

namespace {

// Generous: under the thread checker a pass over a few files takes a while.
constexpr int kPatienceMs = 120000;

QString Summary(int sum) {
  char text[512];
  std::snprintf(text, sizeof text, texts::kDetectSummary, sum);
  return QString::fromUtf8(text);
}

}  // namespace

// Waits until the pass's worker has ended (a test fails if it never does).
#define WAIT_FOR_END() QTRY_VERIFY_WITH_TIMEOUT(!dialog_->WorkerAlive(), kPatienceMs)

class PassesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SampleFolder> sample_;
  std::unique_ptr<ScriptedWindow> window_;
  std::unique_ptr<MainDialog> dialog_;

  void Open() {
    window_ = std::make_unique<ScriptedWindow>();
    dialog_ = std::make_unique<MainDialog>(*window_, sample_->catalogue.toStdString());
    window_->Attach(*dialog_);
    window_->Initialise();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void ChooseSource(const QString& folder) {
    window_->folderAnswers.push_back(folder);
    Click(*window_, ids::kChooseSource);
  }
  void ChooseDest(const QString& folder) {
    window_->folderAnswers.push_back(folder);
    Click(*window_, ids::kChooseDest);
  }

  QTableWidget* List() { return qobject_cast<QTableWidget*>(window_->Control(ids::kKindList)); }
  QString Count(int row) {
    QTableWidgetItem* item = List()->item(row, 2);
    return item ? item->text() : QString();
  }

  // The enabled state of the eight run-state controls, as a string of 0 and 1.
  QString RunControls() {
    QString bits;
    for (int id : kRunControls) bits += ControlEnabled(*window_, id) ? '1' : '0';
    return bits;
  }

  // Order of the columns of RunControls: 1000 1002 1001 1003 1024 1025 1023 1015.
  static inline const QString kIdle = QStringLiteral("11111010");
  static inline const QString kDetecting = QStringLiteral("00000100");
  static inline const QString kRecovering = QStringLiteral("00000001");

 private slots:
  void init() {
    sample_ = MakeSampleFolder();
    Open();
  }

  void cleanup() {
    // The dialog first: it waits for its worker, which still needs the window.
    window_->gate.Open();
    dialog_.reset();
    window_.reset();
    sample_.reset();
  }

  void detectionCountsEveryKindAndWritesTheSummary() {
    ChooseSource(sample_->fragments);
    QCOMPARE(ControlText(*window_, ids::kSourceEdit), QDir::toNativeSeparators(sample_->fragments));
    Click(*window_, ids::kDetect);
    WAIT_FOR_END();

    const QStringList names = SampleKindNames();
    QCOMPARE(List()->rowCount(), names.size());
    // PNG ×2, JPEG, BMP, PDF, no GIF, the text file on the ".txt" row.
    const QStringList counts = {"2", "1", "1", "1", "0", "1"};
    for (int row = 0; row < names.size(); ++row) {
      QCOMPARE(List()->item(row, 0)->text(), names[row]);
      QCOMPARE(Count(row), counts[row]);
    }
    QCOMPARE(ControlText(*window_, ids::kInfo), Summary(6));
    QCOMPARE(ProgressValue(*window_, ids::kTotalProgress), 100);
    // Detection leaves what the recovery pass writes alone.
    QCOMPARE(ControlText(*window_, ids::kFileCount), QStringLiteral("0"));
    QCOMPARE(ControlText(*window_, ids::kProcessedCount), QStringLiteral("0"));
    QCOMPARE(ControlText(*window_, ids::kCurrentFile), QStringLiteral("NULL"));
    QCOMPARE(ProgressValue(*window_, ids::kFileProgress), 0);
    QCOMPARE(RunControls(), kIdle);
    QVERIFY(window_->messages.empty());

    // A second pass over a folder with fewer files counts from zero again.
    QDir(sample_->fragments).remove("FILE0000.CHK");
    QDir(sample_->fragments).remove("FILE0005.CHK");
    Click(*window_, ids::kDetect);
    WAIT_FOR_END();
    QCOMPARE(Count(0), QStringLiteral("0"));
    QCOMPARE(ControlText(*window_, ids::kInfo), Summary(4));
  }

  void recoveryCopiesEveryKnownFragmentAndCountsThemAll() {
    ChooseSource(sample_->fragments);
    ChooseDest(sample_->destination);
    Click(*window_, ids::kRecover);
    WAIT_FOR_END();

    const int files = static_cast<int>(sample_->expected.size());
    QCOMPARE(ControlText(*window_, ids::kFileCount), QString::number(files));
    QCOMPARE(ControlText(*window_, ids::kProcessedCount), QString::number(files));
    QCOMPARE(ProgressValue(*window_, ids::kFileProgress), 100);
    QCOMPARE(ProgressValue(*window_, ids::kTotalProgress), 100);
    QCOMPARE(RunControls(), kIdle);
    QVERIFY(window_->messages.empty());

    // 1011 counted up one by one while 1012 named each fragment once, and the
    // label keeps the last one.
    QStringList counted = window_->textsShown[ids::kProcessedCount];
    QStringList named = window_->textsShown[ids::kCurrentFile];
    QCOMPARE(counted.size(), files);
    for (int i = 0; i < files; ++i) QCOMPARE(counted[i], QString::number(i + 1));
    QCOMPARE(named.size(), files);
    QStringList sortedNames = named;
    sortedNames.sort();
    QStringList fragmentNames;
    for (const auto& [name, extension] : sample_->expected) fragmentNames << name;
    QCOMPARE(sortedNames, fragmentNames);
    QCOMPARE(ControlText(*window_, ids::kCurrentFile), named.back());

    QStringList written = QDir(sample_->destination).entryList(QDir::Files, QDir::Name);
    QStringList wanted;
    for (const auto& [name, extension] : sample_->expected) {
      if (extension.isEmpty()) continue;
      QString output = name.section('.', 0, 0) + extension;
      wanted << output;
      QCOMPARE(ReadFile(sample_->destination + "/" + output), ReadFile(sample_->fragments + "/" + name));
    }
    wanted.sort();
    QCOMPARE(written, wanted);
  }

  void runStatesOfTheEightControlsInEveryState() {
    // As the template starts: idle, although no pass has run.
    QCOMPARE(RunControls(), kIdle);
    ChooseSource(sample_->fragments);
    ChooseDest(sample_->destination);

    window_->gate.Arm(ids::kTotalProgress, 0);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    QCOMPARE(RunControls(), kDetecting);
    // The list, the information box and the menu stay usable while a pass runs.
    QVERIFY(ControlEnabled(*window_, ids::kKindList));
    QVERIFY(ControlEnabled(*window_, ids::kInfo));
    QVERIFY(window_->MenuCommand(ids::kAbout)->isEnabled());
    // A disabled start button does not react to a click.
    Click(*window_, ids::kRecover);
    QCOMPARE(RunControls(), kDetecting);
    window_->gate.Open();
    WAIT_FOR_END();
    QCOMPARE(RunControls(), kIdle);

    window_->gate.Arm(ids::kFileProgress, 0);
    Click(*window_, ids::kRecover);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    QCOMPARE(RunControls(), kRecovering);
    QVERIFY(ControlEnabled(*window_, ids::kKindList));
    QVERIFY(ControlEnabled(*window_, ids::kInfo));
    window_->gate.Open();
    WAIT_FOR_END();
    QCOMPARE(RunControls(), kIdle);
  }

  void stoppingDetectionIsIdleAtOnceAndShowsNoPartialCounts() {
    ChooseSource(sample_->fragments);
    // The worker is held right after its first file.
    window_->gate.Arm(ids::kTotalProgress, 0);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    Click(*window_, ids::kStopDetect);
    // Idle before the worker has even seen the request.
    QCOMPARE(RunControls(), kIdle);
    QVERIFY(dialog_->WorkerAlive());
    window_->gate.Open();
    WAIT_FOR_END();
    for (int row = 0; row < List()->rowCount(); ++row) QCOMPARE(Count(row), QStringLiteral("0"));
    QCOMPARE(ControlText(*window_, ids::kInfo), QString());
    QVERIFY(ProgressValue(*window_, ids::kTotalProgress) < 100);
    QCOMPARE(RunControls(), kIdle);
  }

  void stoppingRecoveryLeavesTheRemainingFragmentsAlone() {
    ChooseSource(sample_->fragments);
    ChooseDest(sample_->destination);
    // Held once the overall bar has moved, that is inside the first file.
    window_->gate.Arm(ids::kTotalProgress, 1);
    Click(*window_, ids::kRecover);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    Click(*window_, ids::kStopRecover);
    QCOMPARE(RunControls(), kIdle);
    window_->gate.Open();
    WAIT_FOR_END();

    QCOMPARE(ControlText(*window_, ids::kFileCount), QString::number(sample_->expected.size()));
    QCOMPARE(ControlText(*window_, ids::kProcessedCount), QStringLiteral("1"));
    QVERIFY(QDir(sample_->destination).entryList(QDir::Files).size() <= 1);
    // After a stop the bars stay where they were.
    QVERIFY(ProgressValue(*window_, ids::kTotalProgress) < 100);
    QCOMPARE(RunControls(), kIdle);
  }

  void aStartWhileTheStoppedWorkerFinishesWaitsForIt() {
    ChooseSource(sample_->fragments);
    window_->gate.Arm(ids::kTotalProgress, 0);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    Click(*window_, ids::kStopDetect);
    QVERIFY(dialog_->WorkerAlive());
    // The new start has to wait for the held worker: let it go from inside that wait.
    QTimer::singleShot(0, window_.get(), [this] { window_->gate.Open(); });
    Click(*window_, ids::kDetect);
    WAIT_FOR_END();
    // The second pass ran whole: its counts and summary are the full ones.
    QCOMPARE(Count(0), QStringLiteral("2"));
    QCOMPARE(ControlText(*window_, ids::kInfo), Summary(6));
    QCOMPARE(RunControls(), kIdle);
  }

  void aWorkersMessageBoxIsARealModalBoxOfTheWindow() {
    // A folder where the first output should go makes that one copy fail.
    QVERIFY(QDir(sample_->destination).mkdir("FILE0000.png"));
    ChooseSource(sample_->fragments);
    ChooseDest(sample_->destination);
    window_->realMessageBoxes = true;

    QString seenText, seenCaption;
    bool modal = false, ownedByWindow = false, onlyOk = false, noIcon = false;
    std::function<void()> dismiss = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        QTimer::singleShot(10, window_.get(), dismiss);
        return;
      }
      seenText = box->text();
      seenCaption = box->windowTitle();
      modal = box->isModal();
      ownedByWindow = box->parentWidget() == window_.get();
      onlyOk = box->buttons().size() == 1 && box->standardButtons() == QMessageBox::Ok;
      noIcon = box->icon() == QMessageBox::NoIcon;
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    };
    QTimer::singleShot(0, window_.get(), dismiss);
    Click(*window_, ids::kRecover);
    WAIT_FOR_END();

    QCOMPARE(window_->messages.size(), std::size_t{1});
    QVERIFY(window_->messages[0].onWindowThread);
    QCOMPARE(seenCaption, QStringLiteral("Open File Error"));
    QVERIFY2(seenText.startsWith("Create file ") && seenText.contains("FILE0000.png"), qPrintable(seenText));
    QVERIFY(modal);
    QVERIFY(ownedByWindow);
    QVERIFY(onlyOk);
    QVERIFY(noIcon);
    // The pass went on after the box: every other known fragment was copied.
    QCOMPARE(ControlText(*window_, ids::kProcessedCount), QString::number(sample_->expected.size()));
    QVERIFY(QFile::exists(sample_->destination + "/FILE0005.png"));
  }

  void closingDuringAPassStopsWaitsAndCloses() {
    ChooseSource(sample_->fragments);
    ChooseDest(sample_->destination);
    window_->gate.Arm(ids::kTotalProgress, 1);
    Click(*window_, ids::kRecover);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    // The close has to wait for the held worker; let it go from inside that wait.
    QTimer::singleShot(0, window_.get(), [this] { window_->gate.Open(); });
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    // By the time the window is closed the worker is gone.
    QVERIFY(!window_->isVisible());
    QVERIFY(!dialog_->WorkerAlive());
    QCOMPARE(window_->result(), int(QDialog::Rejected));
    QVERIFY(QDir(sample_->destination).entryList(QDir::Files).size() < 6);
    QVERIFY(window_->messages.empty());
  }

  void aCloseWhileAStartWaitsForTheStoppedWorkerClosesAfterIt() {
    ChooseSource(sample_->fragments);
    window_->gate.Arm(ids::kTotalProgress, 0);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    Click(*window_, ids::kStopDetect);
    // While the new start waits for the held worker, the window manager's
    // close box is pressed; then the worker is let go.
    QTimer::singleShot(0, window_.get(), [this] {
      window_->close();
      window_->gate.Open();
    });
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), kPatienceMs);
    // Closed with no pass left running behind the closed window.
    QVERIFY(!dialog_->WorkerAlive());
    QVERIFY(window_->messages.empty());
  }

  void closingTheWindowThroughItsCloseBoxDuringDetection() {
    ChooseSource(sample_->fragments);
    window_->gate.Arm(ids::kTotalProgress, 0);
    Click(*window_, ids::kDetect);
    QTRY_VERIFY_WITH_TIMEOUT(window_->gate.Reached(), kPatienceMs);
    QTimer::singleShot(0, window_.get(), [this] { window_->gate.Open(); });
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
    QVERIFY(!dialog_->WorkerAlive());
  }
};

QTEST_MAIN(PassesTest)
#include "window_passes_test.moc"
