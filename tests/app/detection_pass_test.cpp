// The folder scan and the detection pass: what is listed, what is counted where.

#include <cstring>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

using DetectionPassTest = DialogTest;

TEST_F(DetectionPassTest, ScanListsRegularFilesOnly) {
  source.Write("FILE0000.CHK", "a");
  source.Write("FILE0001.CHK", "bb");
  source.Write("readme.txt", "ccc");
  source.Write(".hidden", "dddd");
  source.Sub("FOUND.001");
  source.Write("FOUND.001/inner.CHK", "eeeee");
#if !defined(_WIN32)
  ::symlink((source.str() + "/FILE0000.CHK").c_str(), (source.str() + "/link.CHK").c_str());
  ::symlink("/etc", (source.str() + "/folderlink").c_str());
  ::mkfifo((source.str() + "/pipe").c_str(), 0600);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = source.str() + "/socket";
  if (socketPath.size() < sizeof address.sun_path) {
    std::strcpy(address.sun_path, socketPath.c_str());
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
#else
  // Windows has no pipes or sockets in a folder; links, where the system
  // lets the test make them, are left out as there.
  std::error_code ignored;
  std::filesystem::create_symlink(source.path() / "FILE0000.CHK", source.path() / "link.CHK", ignored);
  std::filesystem::create_directory_symlink(source.path() / "FOUND.001", source.path() / "folderlink", ignored);
#endif
  const int n = dialog->ScanFragmentFolder(source.str());
#if !defined(_WIN32)
  ::close(fd);
#endif
  std::vector<std::string> names = dialog->m_fileNames;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(n, 3);
  EXPECT_EQ(names, (std::vector<std::string>{"FILE0000.CHK", "FILE0001.CHK", "readme.txt"}));
  EXPECT_EQ(dialog->m_totalBytes, 6u);
}

TEST_F(DetectionPassTest, ScanOfAMissingOrEmptyFolderGivesNothingAndScansDoNotAccumulate) {
  EXPECT_EQ(dialog->ScanFragmentFolder(source.str() + "/absent"), 0);
  EXPECT_TRUE(dialog->m_fileNames.empty());
  source.Write("A", "12345");
  EXPECT_EQ(dialog->ScanFragmentFolder(source.str()), 1);
  EXPECT_EQ(dialog->ScanFragmentFolder(source.str()), 1);
  EXPECT_EQ(dialog->m_fileNames.size(), 1u);
  EXPECT_EQ(dialog->m_totalBytes, 5u);
}

TEST_F(DetectionPassTest, CountsEachKindOnItsRowAndWritesTheSummary) {
  source.Write("FILE0000.CHK", Jpeg(3000));
  source.Write("FILE0001.CHK", Jpeg(10));
  source.Write("FILE0002.CHK", "PK\x03\x04 word/document.xml");
  source.Write("FILE0003.CHK", "PK\x03\x04 other");
  source.Write("FILE0004.CHK", "some text\n");
  source.Write("FILE0005.CHK", RandomBytes(500, 9) + std::string(1, '\0'));
  // The observer (the command line) hears the same tally at the end of the
  // pass, with each row's verdicts: every fragment counted was checked.
  struct Heard : PassObserver {
    void OnDetectionTally(const std::vector<KindTally>& rows, const std::string& line) override {
      tally = rows;
      summary = line;
      ++calls;
    }
    std::vector<KindTally> tally;
    std::string summary;
    int calls = 0;
  } heard;
  dialog->SetPassObserver(&heard);
  dialog->SetFormatChecks(true, false);
  Freeze();
  Detect();
  ASSERT_EQ(heard.calls, 1);
  ASSERT_EQ(heard.tally.size(), 5u);
  for (std::size_t r = 0; r < heard.tally.size(); ++r) {
    const KindTally& row = heard.tally[r];
    EXPECT_EQ(std::to_string(row.count), Count(static_cast<int>(r)));
    std::int64_t verdicts = 0;
    for (formats::Verdict verdict : kVerdictOrder) verdicts += row.verdicts[verdict];
    EXPECT_EQ(verdicts, row.count) << row.name;
  }
  EXPECT_EQ(heard.tally[1].extension, ".docx");
  EXPECT_EQ(heard.summary, window.Text(ids::kInfo));
  EXPECT_EQ(Count(0), "2");
  EXPECT_EQ(Count(1), "1");
  EXPECT_EQ(Count(2), "1");
  EXPECT_EQ(Count(3), "0");
  EXPECT_EQ(Count(4), "1");  // the built-in text kind counts on the .txt row
  EXPECT_EQ(window.Text(ids::kInfo), FormatCount(texts::kDetectSummary, 5));
  EXPECT_EQ(window.Position(ids::kTotalProgress), 100);
  EXPECT_EQ(EnabledEight(window), kIdle);
  EXPECT_EQ(dialog->m_stopRequested, 1);
}

TEST_F(DetectionPassTest, BarShowsTheShareOfFilesFinished) {
  for (int i = 0; i < 3; ++i) source.Write(NumberedName("F", i), RandomBytes(100, static_cast<std::uint32_t>(i)) + '\0');
  Freeze();
  Detect();
  EXPECT_EQ(window.PositionHistory(ids::kTotalProgress), (std::vector<int>{0, 33, 66, 100}));
  for (int r = 0; r < 5; ++r) EXPECT_EQ(Count(r), "0");
}

TEST_F(DetectionPassTest, EmptyFolderGoesStraightToTheEnd) {
  Detect();
  EXPECT_EQ(window.PositionHistory(ids::kTotalProgress), (std::vector<int>{100}));
  EXPECT_EQ(window.Text(ids::kInfo), FormatCount(texts::kDetectSummary, 0));
  EXPECT_EQ(Count(0), "0");
}

TEST_F(DetectionPassTest, SecondPassStartsFromZero) {
  source.Write("A", Jpeg(100));
  Detect();
  EXPECT_EQ(Count(0), "1");
  TempFolder other;
  other.Write("B", "PK\x03\x04....");
  dialog->SetSourceFolder(other.str());
  dialog->OnDetect();
  dialog->WaitForWorker();
  EXPECT_EQ(Count(0), "0");
  EXPECT_EQ(Count(2), "1");
}

TEST_F(DetectionPassTest, ExtensionsMustBeEqualNotMerelyAPrefix) {
  Build("[Web page]\no=0\ns=3C68746D6C\npostfix=.html\n"
        "[Old web page]\no=0\ns=3C48544D4C\npostfix=.htm\n");
  source.Write("a", "<HTML><body>\x01");
  source.Write("b", "<html><body>\x01");
  Freeze();
  Detect();
  EXPECT_EQ(Count(0), "1");
  EXPECT_EQ(Count(1), "1");
}

TEST_F(DetectionPassTest, KindsSharingAnExtensionShareItsFirstRow) {
  Build("[JPEG (JFIF)]\no=0\ns=FFD8FFE0\npostfix=.jpg\n[JPEG (Exif)]\no=0\ns=FFD8FFE1\npostfix=.jpg\n");
  source.Write("a", Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0}));
  source.Write("b", Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0}));
  Detect();
  EXPECT_EQ(Count(0), "2");
  EXPECT_EQ(Count(1), "0");
}

TEST_F(DetectionPassTest, KindWithoutExtensionCountsOnItsOwnRow) {
  Build("[Empty]\n[No postfix]\no=0\ns=4E50\n[Other]\no=0\ns=4F54\npostfix=.ot\n");
  source.Write("a", "NP\x01");
  source.Write("b", "NP\x02");
  Detect();
  EXPECT_EQ(Count(0), "0");
  EXPECT_EQ(Count(1), "2");
  Recover(dest.str());
  EXPECT_EQ(ReadAll(dest.str() + "/a"), "NP\x01");  // no extension to add
}

TEST_F(DetectionPassTest, TextWithoutATxtRowIsNotCounted) {
  Build("[JPEG image]\no=0\ns=FFD8FF\npostfix=.jpg\n");
  source.Write("a", "hello\n");
  Detect();
  EXPECT_EQ(Count(0), "0");
  EXPECT_EQ(window.Text(ids::kInfo), FormatCount(texts::kDetectSummary, 0));
}

TEST_F(DetectionPassTest, UnreadableFilesAreSimplyNotCounted) {
  source.Write("a", Jpeg(100));
  source.Write("b", Jpeg(100));
  platform.FailOpen(std::string(1, PathSeparator()) + "b", 13);
  Detect();
  EXPECT_EQ(Count(0), "1");
  EXPECT_TRUE(window.Boxes().empty());
}

TEST_F(DetectionPassTest, LeavesTheRecoveryCountersAlone) {
  window.SetItemText(ids::kFileCount, "7");
  source.Write("a", Jpeg(100));
  Detect();
  EXPECT_EQ(window.Text(ids::kFileCount), "7");
  EXPECT_TRUE(window.TextHistory(ids::kProcessedCount).empty());
  EXPECT_TRUE(window.TextHistory(ids::kCurrentFile).empty());
}

}  // namespace
}  // namespace tessaro::testing
