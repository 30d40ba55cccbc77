// Calls from worker threads: carried to the window's thread, in order, each
// returning only when done, and never left waiting once the window is gone.

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/control_ids.h"
#include "gui/window_calls.h"
#include "gui_test_support.h"

using namespace tessaro;
using namespace tessaro::gui;
using namespace tessaro::guitest;

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
