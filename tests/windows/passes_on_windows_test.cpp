// The two passes on Windows over real pictures: drive roots, names in any
// script, read-only fragments and fragments another program holds open.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "platform/platform.h"
#include "real_files.h"
#include "support/recording_window.h"
#include "win_test_support.h"

namespace tessaro {
namespace {

using wintest::FileHolder;
using wintest::ReadFileBytes;
using wintest::TempDir;
using wintest::W;

constexpr const char* kCatalogue =
    "[JPEG image]\noffset1 = 0\nsignature1 = FFD8FF\npostfix = .jpg\n\n"
    "[PNG image]\noffset1 = 0\nsignature1 = 89504E470D0A1A0A\npostfix = .png\n\n"
    "[GIF image]\noffset1 = 0\nsignature1 = 47494638\npostfix = .gif\n";

class PassesOnWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = work_.Write("tessaro.cfg", kCatalogue);
    source_ = work_.Sub("FOUND.000");
    dest_ = work_.Sub("out");
  }

  std::unique_ptr<MainDialog> Open() {
    auto dialog = std::make_unique<MainDialog>(window_, config_);
    dialog->OnInitDialog();
    EXPECT_EQ(dialog->m_kindCount, 3) << dialog->m_engine.lastError;
    return dialog;
  }

  void Recover(MainDialog& dialog, const std::string& from, const std::string& to) {
    dialog.SetSourceFolder(from);
    dialog.SetDestFolder(to);
    dialog.OnRecover();
    dialog.WaitForWorker();
  }

  std::string Boxes() const {
    std::string all;
    for (const testing::Box& box : window_.Boxes()) all += box.caption + ": " + box.text + "\n";
    return all;
  }

  TempDir work_;
  std::string config_, source_, dest_;
  testing::RecordingWindow window_;
};

TEST_F(PassesOnWindowsTest, RecoveryIntoADriveRootWritesBesideTheRootsOwnFiles) {
  wintest::WriteFileBytes(JoinPath(source_, "FILE0000.CHK"), wintest::kJpeg);
  wintest::WriteFileBytes(JoinPath(source_, "FILE0001.CHK"), wintest::kGif);
  wintest::MappedDrive drive(dest_);
  if (!drive.Mapped()) GTEST_SKIP() << "no free drive letter could be mapped";

  auto dialog = Open();
  Recover(*dialog, source_, drive.Root());  // "X:\" as the folder browser gives it
  EXPECT_EQ(Boxes(), "");
  EXPECT_EQ(ReadFileBytes(JoinPath(drive.Folder(), "FILE0000.jpg")), wintest::kJpeg);
  EXPECT_EQ(ReadFileBytes(JoinPath(drive.Folder(), "FILE0001.gif")), wintest::kGif);
  EXPECT_EQ(window_.Text(ids::kProcessedCount), "2");
}

TEST_F(PassesOnWindowsTest, NamesInAnyScriptAreDetectedAndRecoveredUnderTheirOwnName) {
  const std::string folder = work_.Sub("FOUND.000 — ফাইল 😀");
  wintest::WriteFileBytes(JoinPath(folder, "फ़ाइल0001.CHK"), wintest::kPng);
  wintest::WriteFileBytes(JoinPath(folder, "תמונה0002.CHK"), wintest::kJpeg);
  const std::string out = work_.Sub("保存 ๑");

  auto dialog = Open();
  dialog->SetSourceFolder(folder);
  dialog->OnDetect();
  dialog->WaitForWorker();
  ASSERT_EQ(window_.Rows().size(), 3u);
  EXPECT_EQ(window_.Rows()[0][2], "1");  // jpg
  EXPECT_EQ(window_.Rows()[1][2], "1");  // png

  Recover(*dialog, folder, out);
  EXPECT_EQ(Boxes(), "");
  std::vector<std::wstring> expected = {W("फ़ाइल0001.png"), W("תמונה0002.jpg")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(wintest::FolderEntries(out), expected);
  EXPECT_EQ(ReadFileBytes(JoinPath(out, "फ़ाइल0001.png")), wintest::kPng);
  EXPECT_EQ(ReadFileBytes(JoinPath(out, "תמונה0002.jpg")), wintest::kJpeg);
}

TEST_F(PassesOnWindowsTest, ReadOnlyFragmentsAreRecoveredAndStayAsTheyWere) {
  const std::string fragment = JoinPath(source_, "FILE0003.CHK");
  wintest::WriteFileBytes(fragment, wintest::kPng);
  ASSERT_TRUE(SetFileAttributesW(W(fragment).c_str(), FILE_ATTRIBUTE_READONLY));

  auto dialog = Open();
  Recover(*dialog, source_, dest_);
  EXPECT_EQ(Boxes(), "");
  EXPECT_EQ(ReadFileBytes(JoinPath(dest_, "FILE0003.png")), wintest::kPng);
  EXPECT_EQ(ReadFileBytes(fragment), wintest::kPng);
  EXPECT_TRUE(GetFileAttributesW(W(fragment).c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(PassesOnWindowsTest, AFragmentAnotherProgramHoldsOpenIsStillRecovered) {
  const std::string fragment = JoinPath(source_, "FILE0004.CHK");
  wintest::WriteFileBytes(fragment, wintest::kGif);
  FileHolder holder(fragment, FileHolder::Mode::kWriteSharedRead);
  ASSERT_TRUE(holder.Holding());

  auto dialog = Open();
  Recover(*dialog, source_, dest_);
  EXPECT_EQ(Boxes(), "");
  EXPECT_EQ(ReadFileBytes(JoinPath(dest_, "FILE0004.gif")), wintest::kGif);
}

TEST_F(PassesOnWindowsTest, AnOutputThatCannotBeReplacedIsReportedAndTheFragmentKept) {
  const std::string fragment = JoinPath(source_, "FILE0005.CHK");
  wintest::WriteFileBytes(fragment, wintest::kJpeg);
  const std::string blocked = JoinPath(dest_, "FILE0005.jpg");
  wintest::WriteFileBytes(blocked, "an older file the user keeps");
  ASSERT_TRUE(SetFileAttributesW(W(blocked).c_str(), FILE_ATTRIBUTE_READONLY));

  auto dialog = Open();
  Recover(*dialog, source_, dest_);
  const std::vector<testing::Box> boxes = window_.Boxes();
  ASSERT_EQ(boxes.size(), 1u) << Boxes();
  EXPECT_EQ(boxes[0].caption, "Open File Error");
  EXPECT_NE(boxes[0].text.find(blocked), std::string::npos) << boxes[0].text;
  EXPECT_EQ(ReadFileBytes(blocked), "an older file the user keeps");
  EXPECT_EQ(ReadFileBytes(fragment), wintest::kJpeg);
}

}  // namespace
}  // namespace tessaro
