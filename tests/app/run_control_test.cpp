// The run states: which controls each state enables, the start and stop
// buttons, never two workers, closing during a pass.

#include <atomic>
#include <condition_variable>
#include <thread>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

using RunControlTest = DialogTest;

TEST_F(RunControlTest, EachButtonIdSetsItsStateAndTheFlag) {
  dialog->SetRunState(1024);
  EXPECT_EQ(EnabledEight(window), kDetecting);
  EXPECT_EQ(dialog->m_stopRequested, 0);
  dialog->SetRunState(1025);
  EXPECT_EQ(EnabledEight(window), kIdle);
  EXPECT_EQ(dialog->m_stopRequested, 1);
  dialog->SetRunState(1023);
  EXPECT_EQ(EnabledEight(window), kRecovering);
  EXPECT_EQ(dialog->m_stopRequested, 0);
  dialog->SetRunState(1015);
  EXPECT_EQ(EnabledEight(window), kIdle);
  EXPECT_EQ(dialog->m_stopRequested, 1);
}

TEST_F(RunControlTest, SwitchesTheEightControlsInOrderAndNothingElse) {
  dialog->SetRunState(1024);
  const auto log = window.EnableLog();
  ASSERT_EQ(log.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(log[i].first, kEight[i]);
}

TEST_F(RunControlTest, AnyOtherIdChangesNothingNotEvenTheFlag) {
  dialog->SetRunState(1024);
  window.ClearLogs();
  dialog->SetRunState(1017);
  dialog->SetRunState(0);
  EXPECT_TRUE(window.EnableLog().empty());
  EXPECT_EQ(dialog->m_stopRequested, 0);
}

TEST_F(RunControlTest, DetectWithoutSourceOnlyShowsTheMessage) {
  dialog->OnDetect();
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].text, "请选择包含.CHK文件的文件目录\n");
  EXPECT_EQ(window.Boxes()[0].caption, "参数错误");
  EXPECT_TRUE(window.EnableLog().empty());
  EXPECT_FALSE(dialog->WorkerAlive());
}

TEST_F(RunControlTest, RecoverChecksSourceFirstThenDestination) {
  dialog->OnRecover();
  dialog->SetSourceFolder(source.str());
  dialog->OnRecover();
  const auto boxes = window.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "请选择包含.CHK文件的文件目录\n");
  EXPECT_EQ(boxes[1].text, "请选择一个文件目录用于保存恢复后的文件(不要选择源磁盘/目录)\n");
  EXPECT_EQ(boxes[1].caption, "参数错误");
  EXPECT_TRUE(window.EnableLog().empty());
}

TEST_F(RunControlTest, WorkerThatCannotStartLeavesTheRunningStateForStopToEnd) {
  platform.FailStartWorker(true);
  dialog->SetSourceFolder(source.str());
  dialog->OnDetect();
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].text, "启动检测功能失败!");
  EXPECT_EQ(window.Boxes()[0].caption, "错误");
  EXPECT_EQ(EnabledEight(window), kDetecting);
  dialog->OnStopDetect();
  EXPECT_EQ(EnabledEight(window), kIdle);

  dialog->SetDestFolder(dest.str());
  dialog->OnRecover();
  EXPECT_EQ(window.Boxes().back().text, "启动恢复功能失败!");
  EXPECT_EQ(EnabledEight(window), kRecovering);
  dialog->OnStopRecover();
  EXPECT_EQ(EnabledEight(window), kIdle);
}

// Holds the worker inside the identification of one file until released.
class Gate {
 public:
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void WaitForArrival() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return arrived_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

TEST_F(RunControlTest, StopMakesTheWindowIdleBeforeTheWorkerNotices) {
  for (int i = 0; i < 10; ++i) source.Write("FILE000" + std::to_string(i) + ".CHK", Jpeg(100));
  Freeze();
  Detect();  // a first pass, so the list has counts to keep
  ASSERT_EQ(Count(0), "10");
  for (int i = 0; i < 3; ++i) source.Write("FILE000" + std::to_string(i) + ".CHK", "plain\n");
  window.ClearLogs();
  snapshot = std::make_unique<FragmentSnapshot>(source.path());

  Gate gate;
  std::atomic<int> opened{0};
  platform.onOpenRead = [&](const std::string&) {
    if (++opened == 3) gate.Arrive();
  };
  dialog->OnDetect();
  gate.WaitForArrival();
  EXPECT_EQ(EnabledEight(window), kDetecting);
  dialog->OnStopDetect();
  EXPECT_EQ(EnabledEight(window), kIdle);  // at once, while the worker still waits
  EXPECT_TRUE(dialog->WorkerAlive());
  gate.Open();
  dialog->WaitForWorker();
  platform.onOpenRead = nullptr;
  EXPECT_EQ(opened.load(), 3);  // the pass returned before the fourth file
  EXPECT_EQ(Count(0), "10");    // the list keeps the previous pass's counts
  EXPECT_TRUE(window.TextHistory(ids::kInfo).empty());
  EXPECT_EQ(EnabledEight(window), kIdle);
}

TEST_F(RunControlTest, AwaitingTheWorkersEndSaysWhetherItHasEnded) {
  source.Write("FILE0000.CHK", Jpeg(100));
  Freeze();
  EXPECT_TRUE(dialog->AwaitWorkerEnd(std::chrono::microseconds(0)));  // none yet
  Gate gate;
  platform.onOpenRead = [&](const std::string&) { gate.Arrive(); };
  dialog->SetSourceFolder(source.str());
  dialog->OnDetect();
  gate.WaitForArrival();
  EXPECT_FALSE(dialog->AwaitWorkerEnd(std::chrono::milliseconds(20)));  // held at the file
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.Open();
  });
  EXPECT_TRUE(dialog->AwaitWorkerEnd(std::chrono::seconds(60)));
  opener.join();
  dialog->WaitForWorker();
  platform.onOpenRead = nullptr;
  EXPECT_EQ(Count(0), "1");
}

TEST_F(RunControlTest, StartRightAfterStopWaitsForTheStoppedWorker) {
  for (int i = 0; i < 6; ++i) source.Write(NumberedName("F", i, ".CHK"), Jpeg(5000));
  Freeze();
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  platform.onOpenRead = [&](const std::string&) {
    const int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {}
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --inside;
  };
  dialog->SetSourceFolder(source.str());
  dialog->SetDestFolder(dest.str());
  for (int round = 0; round < 20; ++round) {
    dialog->OnDetect();
    dialog->OnStopDetect();
    dialog->OnRecover();
    dialog->OnStopRecover();
  }
  dialog->OnDetect();
  dialog->WaitForWorker();
  platform.onOpenRead = nullptr;
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(Count(0), "6");
  EXPECT_EQ(EnabledEight(window), kIdle);
}

TEST_F(RunControlTest, ChoosingAFolderWaitsForAStoppedWorker) {
  source.Write("A.CHK", Jpeg(100));
  Gate gate;
  platform.onOpenRead = [&](const std::string&) { gate.Arrive(); };
  dialog->SetSourceFolder(source.str());
  dialog->OnDetect();
  gate.WaitForArrival();
  dialog->OnStopDetect();
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    gate.Open();
  });
  window.QueueFolderAnswer("/elsewhere");
  dialog->OnChooseSource();  // returns only after the worker ended
  EXPECT_FALSE(dialog->WorkerAlive());
  EXPECT_EQ(dialog->m_sourceFolder, "/elsewhere");
  opener.join();
  platform.onOpenRead = nullptr;
}

TEST_F(RunControlTest, ClosingDuringAPassStopsAndWaitsForTheWorker) {
  for (int i = 0; i < 50; ++i) source.Write(NumberedName("F", i, ".CHK"), Jpeg(70000));
  Freeze();
  std::atomic<int> opened{0};
  platform.onOpenRead = [&](const std::string&) { ++opened; };
  dialog->SetSourceFolder(source.str());
  dialog->SetDestFolder(dest.str());
  dialog->OnRecover();
  while (opened.load() < 2) std::this_thread::yield();
  dialog->OnClose();
  EXPECT_FALSE(dialog->WorkerAlive());
  EXPECT_LT(opened.load(), 100);  // it stopped, it did not run to the end
  platform.onOpenRead = nullptr;
  dialog.reset();  // members outlive the worker: nothing left to touch them
}

TEST_F(RunControlTest, DestroyingTheDialogDuringAPassIsSafe) {
  for (int i = 0; i < 30; ++i) source.Write(NumberedName("F", i, ".CHK"), Jpeg(50000));
  Freeze();
  dialog->SetSourceFolder(source.str());
  dialog->SetDestFolder(dest.str());
  dialog->OnRecover();
  dialog.reset();
}

TEST_F(RunControlTest, DetectionAndRecoveryStartEvenWithoutACatalogue) {
  RecordingWindow fresh;
  MainDialog d(fresh, config.str() + "/none.cfg", platform);
  d.OnInitDialog();
  source.Write("A.CHK", Jpeg(100));
  d.SetSourceFolder(source.str());
  d.SetDestFolder(dest.str());
  d.OnDetect();
  d.WaitForWorker();
  EXPECT_EQ(fresh.Position(ids::kTotalProgress), 100);
  d.OnRecover();
  d.WaitForWorker();
  EXPECT_EQ(fresh.Text(ids::kProcessedCount), "1");
  EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
}

// The command table both windows forward to: each id reaches its handler (seen
// by what that handler does first), and the ids without a handler do nothing.
TEST_F(RunControlTest, EachCommandIdReachesItsHandlerAndNoOtherDoesAnything) {
  // What the window has shown so far, to see what one command added.
  struct Seen {
    std::vector<std::string> prompts;
    std::vector<Box> boxes;
    std::size_t documents;
    int abouts;
    int calls;
  };
  auto seen = [&] {
    return Seen{window.Prompts(), window.Boxes(), window.OpenedDocuments().size(), window.AboutCount(),
                window.WindowCalls()};
  };
  auto prompted = [](const Seen& b, const Seen& a, const char* prompt) {
    return a.prompts.size() == b.prompts.size() + 1 && a.prompts.back() == prompt;
  };
  auto boxed = [](const Seen& b, const Seen& a) {
    return a.boxes.size() == b.boxes.size() + 1 && a.boxes.back().text == texts::kNoSource;
  };
  struct Case {
    int id;
    std::function<bool(const Seen& before, const Seen& after)> happened;
  };
  const std::vector<Case> handled = {
      {ids::kChooseSource, [&](const Seen& b, const Seen& a) { return prompted(b, a, texts::kSourcePrompt); }},
      {ids::kChooseDest, [&](const Seen& b, const Seen& a) { return prompted(b, a, texts::kDestPrompt); }},
      {ids::kDetect, boxed},
      {ids::kStopDetect, [&](const Seen&, const Seen&) { return EnabledEight(window) == kIdle && dialog->m_stopRequested == 1; }},
      {ids::kRecover, boxed},
      {ids::kStopRecover, [&](const Seen&, const Seen&) { return EnabledEight(window) == kIdle && dialog->m_stopRequested == 1; }},
      {ids::kHelpContents, [](const Seen& b, const Seen& a) { return a.documents == b.documents + 1; }},
      {ids::kAbout, [](const Seen& b, const Seen& a) { return a.abouts == b.abouts + 1; }},
  };
  for (const Case& c : handled) {
    SCOPED_TRACE(c.id);
    dialog->SetRunState(ids::kDetect);
    const Seen before = seen();
    EXPECT_TRUE(dialog->OnCommand(static_cast<unsigned>(c.id)));
    EXPECT_TRUE(c.happened(before, seen()));
  }
  // Menu "开始" starts a detection as "检测" does, but only where "检测" could
  // be pressed; "结束" stops the pass that runs, as its "停止" does.
  for (const int pass : {ids::kDetect, ids::kRecover}) {
    SCOPED_TRACE(pass);
    dialog->SetRunState(static_cast<std::uint32_t>(pass));
    const Seen running = seen();
    EXPECT_TRUE(dialog->OnCommand(static_cast<unsigned>(ids::kMenuStart)));
    EXPECT_EQ(seen().calls, running.calls);
    EXPECT_TRUE(dialog->OnCommand(static_cast<unsigned>(ids::kMenuEnd)));
    EXPECT_EQ(EnabledEight(window), kIdle);
    EXPECT_EQ(dialog->m_stopRequested, 1);
    const Seen idle = seen();
    EXPECT_TRUE(dialog->OnCommand(static_cast<unsigned>(ids::kMenuEnd)));
    EXPECT_EQ(seen().calls, idle.calls);
    EXPECT_TRUE(dialog->OnCommand(static_cast<unsigned>(ids::kMenuStart)));
    EXPECT_TRUE(boxed(idle, seen()));
  }
  // The hidden default button, Enter, "退出" (the window's own), the system
  // menu's About (a system command), nothing.
  for (int id : {ids::kDefaultButton, ids::kOk, ids::kExit, ids::kSysAbout, 0}) {
    SCOPED_TRACE(id);
    dialog->SetRunState(ids::kDetect);
    const int calls = window.WindowCalls();
    EXPECT_FALSE(dialog->OnCommand(static_cast<unsigned>(id)));
    EXPECT_EQ(window.WindowCalls(), calls);
    EXPECT_EQ(dialog->m_stopRequested, 0);
  }
}

}  // namespace
}  // namespace tessaro::testing
