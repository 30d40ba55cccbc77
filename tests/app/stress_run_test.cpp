// A thousand rapid starts and stops of each pass, starts that fall on a
// stopped worker still finishing its file, and windows closed mid-pass. There
// is never more than one worker, none is left running, no fragment changes,
// and no output is anything but its fragment's bytes (whole, or the start of
// them after a stop); the last, uninterrupted pass leaves every output whole.
// Run under ThreadSanitizer too.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kCycles = 1000;

// Counts the workers alive at once.
class CountingPlatform : public FaultyPlatform {
 public:
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override {
    ++started;
    return FaultyPlatform::StartWorker(
        [this, body = std::move(body)] {
          const int now = ++alive;
          int seen = most.load();
          while (now > seen && !most.compare_exchange_weak(seen, now)) {
          }
          body();
          --alive;
        },
        handle);
  }
  std::atomic<int> alive{0};
  std::atomic<int> most{0};
  std::atomic<int> started{0};
};

class StressRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 8; ++i) {
      const std::string name = "FILE000" + std::to_string(i) + ".CHK";
      fragments_[name] = Jpeg(70000 + static_cast<std::size_t>(i) * 1000);
      source_.Write(name, fragments_[name]);
    }
    snapshot_ = std::make_unique<FragmentSnapshot>(source_.path());
    platform_.onOpenRead = [this](const std::string&) { ++opens_; };
    dialog_ = std::make_unique<MainDialog>(window_, WriteCatalogue(config_, kSmallCatalogue), platform_);
    dialog_->OnInitDialog();
    dialog_->SetSourceFolder(source_.str());
    dialog_->SetDestFolder(dest_.str());
  }
  void TearDown() override {
    dialog_.reset();
    EXPECT_GT(reachedAFile_, 0) << "no stop fell inside a pass";
    EXPECT_EQ(platform_.alive.load(), 0);
    EXPECT_LE(platform_.most.load(), 1) << "two workers ran at once";
    EXPECT_EQ(snapshot_->Changes(), "");
  }

  // A few yields: enough for the worker to get anywhere from not started to
  // several files in, so the stops fall at every point of a pass. Every tenth
  // time the stop waits until the worker has opened a file, however slow the
  // machine, so some stops surely fall inside a pass.
  void Jitter(int cycle) { Jitter(cycle, *dialog_); }
  void Jitter(int cycle, const MainDialog& dialog) {
    if (cycle % 10 == 0) {
      const int before = opens_.load();
      while (opens_.load() == before && dialog.WorkerAlive()) std::this_thread::yield();
      reachedAFile_ += opens_.load() != before;
      return;
    }
    const int spins = static_cast<int>(random_() % 200);
    for (int i = 0; i < spins; ++i) std::this_thread::yield();
  }

  // Every output is its fragment, whole or cut short by a stop; nothing else
  // is in the destination.
  void ExpectOutputsArePrefixes(bool whole) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(dest_.path())) {
      ++count;
      const std::string name = entry.path().filename().string();
      ASSERT_TRUE(name.ends_with(".jpg")) << name;
      const std::string fragment = name.substr(0, name.size() - 4) + ".CHK";
      ASSERT_EQ(fragments_.count(fragment), 1u) << name;
      const std::string kept = ReadAll(entry.path().string());
      const std::string& bytes = fragments_[fragment];
      if (whole) {
        EXPECT_EQ(HashBytes(kept), HashBytes(bytes)) << name;
      } else {
        ASSERT_LE(kept.size(), bytes.size()) << name;
        EXPECT_EQ(bytes.compare(0, kept.size(), kept), 0) << name << " is not the start of its fragment";
      }
    }
    if (whole) {
      EXPECT_EQ(count, fragments_.size());
    }
  }

  void FinishWithAWholePass() {
    dialog_->OnRecover();
    dialog_->WaitForWorker();
    EXPECT_FALSE(dialog_->WorkerAlive());
    EXPECT_EQ(EnabledEight(window_), kIdle);
    EXPECT_EQ(window_.Text(ids::kProcessedCount), std::to_string(fragments_.size()));
    ExpectOutputsArePrefixes(true);
  }

  TempFolder config_;
  TempFolder source_;
  TempFolder dest_;
  RecordingWindow window_;
  CountingPlatform platform_;
  std::unique_ptr<MainDialog> dialog_;
  std::unique_ptr<FragmentSnapshot> snapshot_;
  std::map<std::string, std::string> fragments_;
  std::mt19937 random_{20261207};
  std::atomic<int> opens_{0};
  int reachedAFile_ = 0;
};

TEST_F(StressRunTest, ThousandStartsAndStopsOfDetection) {
  for (int i = 0; i < kCycles; ++i) {
    dialog_->OnDetect();
    Jitter(i);
    dialog_->OnStopDetect();
    ASSERT_EQ(EnabledEight(window_), kIdle) << "cycle " << i;
  }
  dialog_->WaitForWorker();
  EXPECT_FALSE(dialog_->WorkerAlive());
  EXPECT_EQ(platform_.started.load(), kCycles);
  // A whole detection after all that counts every picture once.
  dialog_->OnDetect();
  dialog_->WaitForWorker();
  EXPECT_EQ(window_.Rows().at(0).at(2), std::to_string(fragments_.size()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dest_.path()), fs::directory_iterator()), 0);
}

TEST_F(StressRunTest, ThousandStartsAndStopsOfRecovery) {
  for (int i = 0; i < kCycles; ++i) {
    dialog_->OnRecover();
    Jitter(i);
    dialog_->OnStopRecover();
    ASSERT_EQ(EnabledEight(window_), kIdle) << "cycle " << i;
  }
  dialog_->WaitForWorker();
  EXPECT_FALSE(dialog_->WorkerAlive());
  EXPECT_EQ(platform_.started.load(), kCycles);
  ExpectOutputsArePrefixes(false);
  FinishWithAWholePass();
}

// Detection and recovery started in turn, each start falling on the other
// pass's stopped worker, with folder choices in between.
TEST_F(StressRunTest, ThousandAlternatingStartsStopsAndFolderChoices) {
  for (int i = 0; i < kCycles; ++i) {
    if (i % 2 == 0) {
      dialog_->OnDetect();
      Jitter(i);
      dialog_->OnStopDetect();
    } else {
      dialog_->OnRecover();
      Jitter(i);
      dialog_->OnStopRecover();
    }
    if (i % 10 == 9) {
      window_.QueueFolderAnswer(source_.str());
      dialog_->OnChooseSource();
      window_.QueueFolderAnswer(dest_.str());
      dialog_->OnChooseDest();
    }
  }
  dialog_->WaitForWorker();
  EXPECT_EQ(platform_.started.load(), kCycles);
  ExpectOutputsArePrefixes(false);
  FinishWithAWholePass();
}

// The window closed while a pass runs: the close stops the pass and waits for
// its worker, and the dialog goes away with nothing left running.
TEST_F(StressRunTest, ClosingTheWindowMidPassLeavesNoWorker) {
  for (int i = 0; i < kCycles / 10; ++i) {
    RecordingWindow window;
    auto dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config_, kSmallCatalogue), platform_);
    dialog->OnInitDialog();
    dialog->SetSourceFolder(source_.str());
    dialog->SetDestFolder(dest_.str());
    if (i % 2 == 0) {
      dialog->OnRecover();
    } else {
      dialog->OnDetect();
    }
    Jitter(i, *dialog);
    dialog->OnClose();
    EXPECT_FALSE(dialog->WorkerAlive());
    EXPECT_EQ(platform_.alive.load(), 0);
    // Half the time the dialog goes without a close of its own.
    if (i % 4 == 1) dialog->OnRecover();
    dialog.reset();
    EXPECT_EQ(platform_.alive.load(), 0);
  }
  ExpectOutputsArePrefixes(false);
  FinishWithAWholePass();
}

}  // namespace
}  // namespace tessaro::testing
