// Calls from worker threads: carried to the window's thread, in order, each
// returning only when done (texts and bar positions: shown at the next frame,
// never after a later call), and never left waiting once the window is gone.

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/control_ids.h"
#include "gui/window_calls.h"
#include "gui_test_support.h"

using namespace tessaro;
using namespace tessaro::gui;
using namespace tessaro::guitest;

// Looks at the window the moment the worker's folder question reaches it.
class LookingWindow : public ScriptedWindow {
 public:
  QString textWhenAsked;
  int positionWhenAsked = -1;

 protected:
  QString BrowseForFolder(const QString&, const QString&) override {
    textWhenAsked = ControlText(*this, ids::kCurrentFile);
    positionWhenAsked = ProgressValue(*this, ids::kFileProgress);
    return QStringLiteral("/chosen");
  }
};

class CallsTest : public QObject {
  Q_OBJECT

 private slots:
  void aWorkersCallsRunOnTheWindowThreadInOrder() {
    ScriptedWindow window;
    window.folderAnswers = {QStringLiteral("/chosen")};
    std::atomic<bool> finished{false};
    std::string chosen;
    std::thread worker([&] {
      for (int i = 1; i <= 200; ++i) window.SetItemText(ids::kProcessedCount, std::to_string(i));
      window.SetProgressPos(ids::kTotalProgress, 40);
      window.EnableItem(ids::kDetect, false);
      chosen = window.ChooseFolder("prompt");
      window.MessageBox("text", "caption");
      finished = true;
    });
    window.ServeUntil([&] { return finished.load(); });
    worker.join();

    QCOMPARE(ControlText(window, ids::kProcessedCount), QStringLiteral("200"));
    QStringList shown = window.textsShown[ids::kProcessedCount];
    QCOMPARE(shown.size(), 200);
    QCOMPARE(shown.front(), QStringLiteral("1"));
    QCOMPARE(ProgressValue(window, ids::kTotalProgress), 40);
    QVERIFY(!ControlEnabled(window, ids::kDetect));
    // A result travels back to the worker.
    QCOMPARE(chosen, std::string("/chosen"));
    QCOMPARE(window.messages.size(), std::size_t{1});
    QVERIFY(window.messages[0].onWindowThread);
  }

  void postedChangesShowBeforeTheNextCallIsCarriedOut() {
    LookingWindow window;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
      for (int i = 0; i <= 100; ++i) {
        window.SetItemText(ids::kCurrentFile, "FILE" + std::to_string(i) + ".CHK");
        window.SetProgressPos(ids::kFileProgress, i);
      }
      window.SetProgressPos(ids::kFileProgress, 73);
      window.ChooseFolder("prompt");
      finished = true;
    });
    window.ServeUntil([&] { return finished.load(); });
    worker.join();
    QCOMPARE(window.textWhenAsked, QStringLiteral("FILE100.CHK"));
    QCOMPARE(window.positionWhenAsked, 73);
  }

  void aWorkersBarChangesAreShownOncePerFrameNotOncePerCall() {
    ScriptedWindow window;
    auto* bar = qobject_cast<QProgressBar*>(window.Control(ids::kTotalProgress));
    QVERIFY(bar != nullptr);
    QSignalSpy changes(bar, &QProgressBar::valueChanged);
    constexpr int kCalls = 20000;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
      for (int i = 0; i < kCalls; ++i) window.SetProgressPos(ids::kTotalProgress, i % 101);
      window.SetProgressPos(ids::kTotalProgress, 64);
      finished = true;
    });
    window.ServeUntil([&] { return finished.load(); });
    worker.join();
    QCOMPARE(bar->value(), 64);
    // Each call changed the value; carried out one by one, the bar would have
    // changed (and been painted) 20,000 times.
    QVERIFY2(changes.count() < kCalls / 10, qPrintable(QString::number(changes.count())));
  }

  void theWindowsOwnChangeIsNotUndoneByAnEarlierPostedOne() {
    ScriptedWindow window;
    std::thread worker([&] { window.SetItemText(ids::kProcessedCount, "17"); });
    worker.join();
    // Posted before, shown first: the window's own text stays.
    window.SetItemText(ids::kProcessedCount, "0");
    QTest::qWait(3 * WindowCalls::kFrameMs);
    QCOMPARE(ControlText(window, ids::kProcessedCount), QStringLiteral("0"));
  }

  void theWindowsOwnCallsRunAtOnce() {
    WindowCalls calls;
    bool ran = false;
    calls.Run([&] { ran = true; });
    QVERIFY(ran);
  }

  void aWaitingWorkerIsLetGoWhenTheWindowCloses() {
    auto calls = std::make_unique<WindowCalls>();
    std::atomic<bool> ran{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      calls->Run([&] { ran = true; });
      returned = true;
    });
    // Not serving: the call waits (or, if the close comes first, is dropped at once).
    calls->Close();
    worker.join();
    QVERIFY(returned);
    QVERIFY(!ran);
    // After the close nothing is carried out any more.
    std::thread late([&] { calls->Run([&] { ran = true; }); });
    late.join();
    QVERIFY(!ran);
  }

  void serveUntilEndsWhenTheConditionHoldsWithoutFurtherCalls() {
    ScriptedWindow window;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
      window.SetItemText(ids::kCurrentFile, "FILE0000.CHK");
      // No window call after this: only the wait's own look sees the end.
      finished = true;
    });
    window.ServeUntil([&] { return finished.load(); });
    worker.join();
    QCOMPARE(ControlText(window, ids::kCurrentFile), QStringLiteral("FILE0000.CHK"));
    // Already true: returns at once.
    window.ServeUntil([] { return true; });
  }

  void progressPositionsOutsideTheRangeShowAtTheNearerEnd() {
    ScriptedWindow window;
    window.SetProgressPos(ids::kFileProgress, 250);
    QCOMPARE(ProgressValue(window, ids::kFileProgress), 100);
    window.SetProgressPos(ids::kFileProgress, -3);
    QCOMPARE(ProgressValue(window, ids::kFileProgress), 0);
    window.SetProgressRange(ids::kFileProgress, 0, 10);
    window.SetProgressPos(ids::kFileProgress, 50);
    QCOMPARE(ProgressValue(window, ids::kFileProgress), 10);
    // Calls for ids that are no such control change nothing and do not fail.
    window.SetProgressPos(ids::kDetect, 5);
    window.SetListCell(ids::kKindList, 7, 2, "x");
    window.SetItemText(4242, "x");
  }
};

QTEST_MAIN(CallsTest)
#include "window_calls_test.moc"
