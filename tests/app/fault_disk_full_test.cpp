// A destination that really fills up: a 256 KiB tmpfs mounted for the test.
// Needs root and a system that lets it mount; skipped with the reason otherwise
// (always on Windows, where a program cannot make a small volume of its own).

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <vector>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCapacity = 256 * 1024;

class SmallFilesystem {
 public:
  SmallFilesystem() {
#if defined(_WIN32)
    reason_ = "a small volume of its own needs a virtual disk, which a test program cannot make on Windows";
#else
    if (::geteuid() != 0) {
      reason_ = "mounting a small filesystem needs root";
      return;
    }
    const std::string options = "size=" + std::to_string(kCapacity) + ",mode=0755";
    if (::mount("tessaro-test", folder_.str().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      reason_ = std::string("this system does not let the test mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
#endif
  }
  ~SmallFilesystem() {
#if !defined(_WIN32)
    if (mounted_) ::umount2(folder_.str().c_str(), MNT_DETACH);
#endif
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  std::string str() const { return folder_.str(); }

 private:
  TempFolder folder_;
  bool mounted_ = false;
  std::string reason_;
};

// Through the platform seam the copy goes by read and write; on the system's
// own platform it goes by the kernel's file-to-file copy where there is one.
// Both must meet the full disk the same way.
class FaultDiskFullTest : public ::testing::TestWithParam<bool> {};

TEST_P(FaultDiskFullTest, TheWriteErrorIsReportedThePartialOutputKeptAndEveryOtherOutputIntact) {
  const bool throughTheSeam = GetParam();
  SmallFilesystem full;
  if (!full.mounted()) GTEST_SKIP() << full.reason();

  TempFolder config;
  TempFolder source;
  // Four pictures of 100,000 bytes: two fit, the rest meet the full disk.
  std::map<std::string, std::string> fragments;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "FILE000" + std::to_string(i);
    fragments[name] = Jpeg(100000 + static_cast<std::size_t>(i));
    source.Write(name + ".CHK", fragments[name]);
  }
  const FragmentSnapshot before(source.path());

  RecordingWindow window;
  FaultyPlatform seam;  // no faults: the filesystem itself runs out
  Platform& platform = throughTheSeam ? static_cast<Platform&>(seam) : SystemPlatform();
  auto dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, kSmallCatalogue), platform);
  dialog->OnInitDialog();
  dialog->SetSourceFolder(source.str());
  dialog->SetDestFolder(full.str());
  dialog->OnRecover();
  dialog->WaitForWorker();

  std::set<std::string> reported;
  for (const Box& box : window.Boxes()) {
    EXPECT_EQ(box.caption, "write File Error");
    ASSERT_TRUE(box.text.starts_with("write file ") && box.text.ends_with(" error")) << box.text;
    reported.insert(box.text.substr(11, box.text.size() - 11 - 6));
  }
  EXPECT_FALSE(reported.empty()) << "the disk never filled";

  std::uint64_t counted = 0;
  int whole = 0;
  for (const auto& [name, bytes] : fragments) {
    const std::string output = JoinPath(full.str(), name + ".jpg");
    ASSERT_TRUE(fs::exists(output)) << output << ": a created output is kept, full or not";
    const std::string kept = ReadAll(output);
    if (kept.size() == bytes.size()) {
      EXPECT_EQ(kept, bytes) << output;
      EXPECT_EQ(reported.count(output), 0u) << output;
      counted += bytes.size();
      ++whole;
    } else {
      EXPECT_LT(kept.size(), bytes.size());
      EXPECT_EQ(bytes.compare(0, kept.size(), kept), 0) << output << " is not the start of its fragment";
      EXPECT_EQ(reported.count(output), 1u) << output << " was cut short without a message";
      // Only the chunks written whole count; the failing write may have left
      // part of its chunk on the disk.
      counted += kept.size() / MainDialog::kCopyChunk * MainDialog::kCopyChunk;
    }
  }
  EXPECT_GE(whole, 1);
  EXPECT_EQ(dialog->m_copiedBytes, counted);
  EXPECT_EQ(window.Text(ids::kProcessedCount), "4");
  EXPECT_EQ(EnabledEight(window), kIdle);
  dialog.reset();
  EXPECT_EQ(before.Changes(), "");
}

// A fragment of many files is written two files at a time: the disk fills
// under both copies, and each part is still whole or the start of itself
// with one message of its own.
TEST_P(FaultDiskFullTest, PartsOfOneFragmentMeetItTheSameWay) {
  SmallFilesystem full;
  if (!full.mounted()) GTEST_SKIP() << full.reason();
  TempFolder source;
  source.Write("FILE0000.CHK", SplitSampleFragment(4096));
  const FragmentSnapshot before(source.path());

  RecordingWindow window;
  FaultyPlatform seam;
  Platform& platform = GetParam() ? static_cast<Platform&>(seam) : SystemPlatform();
  auto dialog = std::make_unique<MainDialog>(window, std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg", platform);
  dialog->OnInitDialog();
  dialog->SetSplit(true);
  dialog->SetSourceFolder(source.str());
  dialog->SetDestFolder(full.str());
  dialog->OnRecover();
  dialog->WaitForWorker();

  std::vector<std::string> reported;
  for (const Box& box : window.Boxes()) {
    ASSERT_TRUE(box.text.starts_with("write file ") && box.text.ends_with(" error")) << box.text;
    reported.push_back(box.text.substr(11, box.text.size() - 11 - 6));
  }
  EXPECT_FALSE(reported.empty()) << "the disk never filled";
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << "messages out of fragment order";
  const std::vector<std::string> parts = SplitSampleParts(4096);
  int whole = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string name = "FILE0000-000" + std::to_string(i + 1);
    std::string output;
    for (const auto& entry : fs::directory_iterator(full.str())) {
      if (entry.path().stem() == name) output = entry.path().string();
    }
    ASSERT_FALSE(output.empty()) << name << ": a created output is kept, full or not";
    const std::string kept = ReadAll(output);
    const auto told = std::count(reported.begin(), reported.end(), output);
    if (kept == parts[i]) {
      EXPECT_EQ(told, 0) << output;
      ++whole;
    } else {
      EXPECT_LT(kept.size(), parts[i].size()) << output;
      EXPECT_EQ(parts[i].compare(0, kept.size(), kept), 0) << output << " is not the start of its part";
      EXPECT_EQ(told, 1) << output << " was cut short without one message";
    }
  }
  EXPECT_GE(whole, 1);
  EXPECT_EQ(window.Text(ids::kProcessedCount), "1");
  EXPECT_EQ(EnabledEight(window), kIdle);
  dialog.reset();
  EXPECT_EQ(before.Changes(), "");
}

INSTANTIATE_TEST_SUITE_P(BothCopies, FaultDiskFullTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "ReadAndWrite" : "SystemCopy");
                         });

}  // namespace
}  // namespace tessaro::testing
