// The recovery pass and the copy of one file: names, counters, bars, failures.

#include <filesystem>
#include <set>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

using RecoveryPassTest = DialogTest;

TEST_F(RecoveryPassTest, CopiesOnlyRecognisedFilesAndCountsEveryFile) {
  source.Write("FILE0000.CHK", RandomBytes(300, 1) + '\0');
  const std::string jpeg = Jpeg(70000);
  source.Write("FILE0001.CHK", jpeg);
  source.Write("FILE0002.CHK", RandomBytes(300, 2) + '\0');
  Freeze();
  Recover(dest.str());
  EXPECT_EQ(window.Text(ids::kFileCount), "3");
  auto shown = window.TextHistory(ids::kCurrentFile);
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"FILE0000.CHK", "FILE0001.CHK", "FILE0002.CHK"}));
  EXPECT_EQ(window.TextHistory(ids::kProcessedCount), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.jpg"), jpeg);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dest.path()), {}), 1);
  EXPECT_EQ(window.Position(ids::kTotalProgress), 100);
  EXPECT_EQ(window.Position(ids::kFileProgress), 100);
  EXPECT_EQ(EnabledEight(window), kIdle);
  EXPECT_TRUE(dialog->m_fileNames.empty());
  EXPECT_EQ(dialog->m_copiedBytes, dialog->m_totalBytes);
}

TEST_F(RecoveryPassTest, NameIsCutAtTheFirstDotAndGetsTheKindsExtension) {
  source.Write("a.b.CHK", "text one\n");
  source.Write("noext", Jpeg(50));
  Freeze();
  Recover(dest.str());
  EXPECT_EQ(ReadAll(dest.str() + "/a.txt"), "text one\n");
  EXPECT_TRUE(std::filesystem::exists(dest.str() + "/noext.jpg"));
}

TEST_F(RecoveryPassTest, TwoFragmentsOfOneNameNeverOverwriteEachOther) {
  source.Write("a.b.CHK", "first\n");
  source.Write("a.c.CHK", "second\n");
  source.Write("a.d.CHK", "third\n");
  Freeze();
  Recover(dest.str());
  std::set<std::string> contents;
  for (const std::string name : {"a.txt", "a (2).txt", "a (3).txt"}) {
    ASSERT_TRUE(std::filesystem::exists(dest.str() + "/" + name)) << name;
    contents.insert(ReadAll(dest.str() + "/" + name));
  }
  EXPECT_EQ(contents, (std::set<std::string>{"first\n", "second\n", "third\n"}));
}

// The destination may be a FAT, exFAT or NTFS stick, where one letter's two
// cases name one file, in every script: no output may replace another there.
// The letters of the test's names as a volume that ignores case folds them,
// written out here apart from the program's own table.
std::string Folded(std::string name) {
  const std::pair<const char*, const char*> kFolds[] = {
      {"\xC3\x89", "\xC3\xA9"}, {"\xD0\x94", "\xD0\xB4"}, {"\xCE\xA3", "\xCF\x83"}, {"\xCF\x82", "\xCF\x83"}};
  for (const auto& [from, to] : kFolds) {
    for (std::size_t at = name.find(from); at != std::string::npos; at = name.find(from, at)) name.replace(at, 2, to);
  }
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

TEST_F(RecoveryPassTest, OutputNamesNeverDifferByLetterCaseAlone) {
  const std::vector<std::string> names = {"FILE0001.CHK", "file0001.CHK", "\xC3\x89T\xC3\x89.CHK",
                                          "\xC3\xA9t\xC3\xA9.CHK", "\xD0\x94\xCE\xA3.CHK", "\xD0\xB4\xCF\x83.CHK",
                                          "\xCF\x82\xD0\xB4.CHK"};
  for (const std::string& name : names) source.Write(name, name + " text\n");
  // What the source folder holds: on a system that ignores case there too,
  // the names of one letter's two cases were one file already.
  std::set<std::string> texts;
  for (const auto& entry : std::filesystem::directory_iterator(source.path())) {
    texts.insert(ReadAll(entry.path().string()));
  }
  Freeze();
  Recover(dest.str());
  std::set<std::string> contents, keys;
  for (const auto& entry : std::filesystem::directory_iterator(dest.path())) {
    contents.insert(ReadAll(entry.path().string()));
    const std::u8string name = entry.path().filename().u8string();
    keys.insert(Folded(std::string(name.begin(), name.end())));
  }
  // Every fragment has an output of its own, and no two outputs' names are
  // one name on a volume that ignores case.
  EXPECT_EQ(keys.size(), texts.size());
  EXPECT_EQ(contents, texts);
  EXPECT_GE(texts.size(), 4u);
}

TEST_F(RecoveryPassTest, FilesThatWereThereBeforeThePassAreReplaced) {
  source.Write("FILE0001.CHK", "new text\n");
  dest.Write("FILE0001.txt", "an old, longer file that was there before\n");
  Freeze();
  Recover(dest.str());
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.txt"), "new text\n");
  Recover(dest.str());  // a second pass replaces the first pass's outputs
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.txt"), "new text\n");
  EXPECT_FALSE(std::filesystem::exists(dest.str() + "/FILE0001 (2).txt"));
}

TEST_F(RecoveryPassTest, NothingIsWrittenOntoAFragmentWhenDestinationIsTheSource) {
  Build("[Checked]\no=0\ns=434B\npostfix=.CHK\n[Text document]\npostfix=.txt\n");
  source.Write("FILE0000.CHK", "CK own name\x01");
  source.Write("FILE0001.txt", "CK would land on the text file\x01");  // no fragment is FILE0001.CHK
  source.Write("FILE0001.CHK.txt", "plain\n");
  Freeze();
  Recover(source.str());
  EXPECT_EQ(ReadAll(source.str() + "/FILE0000 (2).CHK"), "CK own name\x01");
  EXPECT_EQ(ReadAll(source.str() + "/FILE0001.CHK"), "CK would land on the text file\x01");
  EXPECT_EQ(ReadAll(source.str() + "/FILE0001 (2).txt"), "plain\n");
}

// Sorted by kind, each output goes into its extension's folder (made as
// needed; "other" for a kind without one), and with the format checks a file
// that is not whole one level further; names stay unique per folder.
TEST_F(RecoveryPassTest, SortedByKindEachOutputGoesIntoItsKindsFolder) {
  Build(std::string(kSmallCatalogue) + "[Nameless]\noffset=0\nsignature=4E4E4E\n");
  const std::string png = ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/kinds/imagemagick.png");
  source.Write("FILE0000.CHK", Jpeg(100));  // random after its marker: a JPEG cut short
  source.Write("FILE0001.CHK", "a text\n");
  source.Write("FILE0002.CHK", png);
  source.Write("FILE0003.CHK", png.substr(0, png.size() / 2));
  source.Write("FILE0004.CHK", "NNN no extension");
  source.Write("FILE0000.REC", Jpeg(200));
  Freeze();
  dialog->SetFormatChecks(true, false);
  dialog->SetOutputLayout(false, true);
  Recover(dest.str());
  const std::vector<std::pair<std::string, std::size_t>> expected = {
      {"jpg/truncated/FILE0000.jpg", 100}, {"jpg/truncated/FILE0000 (2).jpg", 200}, {"txt/FILE0001.txt", 7}, {"png/FILE0002.png", png.size()},
      {"png/truncated/FILE0003.png", png.size() / 2}, {"other/FILE0004", 16}};
  std::set<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dest.path())) {
    if (entry.is_regular_file()) written.insert(entry.path().lexically_relative(dest.path()).generic_string());
  }
  std::set<std::string> wanted;
  for (const auto& [name, size] : expected) {
    wanted.insert(name);
    if (size != 0) {
      EXPECT_EQ(std::filesystem::file_size(dest.path() / name), size) << name;
    }
  }
  EXPECT_EQ(written, wanted);
}

// Named from content, an output is "CONTENT (BASE).ext" where its file says
// what it is, its fragment's name where it says nothing; two outputs of one
// name still never meet, and no name outgrows its limit with the number
// that keeps it apart.
TEST_F(RecoveryPassTest, NamesFromContentKeepTheFragmentsNameAndStayUnique) {
  Build(std::string(kSmallCatalogue) + "[MP3 audio]\noffset=0\nsignature=494433\npostfix=.mp3\n" +
        "[HTML document]\noffset=0\nsignature=3C68746D6C3E\npostfix=.html\n");
  const std::string song = ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/names/ffmpeg-id3v24.mp3");
  std::string title;
  for (int i = 0; i < 150; ++i) title += "\xC3\xA9";  // 300 bytes of one two-byte letter
  const std::string page = "<html><head><title>" + title + "</title></head></html>\n";
  source.Write("FILE0001.CHK", song);
  source.Write("FILE0001.REC", song);
  source.Write("FILE0002.CHK", Jpeg(100));
  source.Write("FILE0003.CHK", page);
  source.Write("FILE0003.REC", page);
  Freeze();
  dialog->SetOutputLayout(true, false);
  Recover(dest.str());
  std::set<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(dest.path())) {
    const std::string name = entry.path().filename().string();
    const std::size_t stem = entry.path().stem().string().size();
    EXPECT_LE(stem, 200u) << name;
    if (name.size() > 60) {
      EXPECT_GE(stem, 190u) << name;  // shortened by whole letters, no more than it must
      written.insert("LONG" + name.substr(name.find(" (FILE")));
    } else {
      written.insert(name);
    }
  }
  EXPECT_EQ(written, (std::set<std::string>{"The Band - Song Two (FILE0001).mp3", "The Band - Song Two (FILE0001) (2).mp3",
                                            "FILE0002.jpg", "LONG (FILE0003).html", "LONG (FILE0003) (2).html"}));
}

TEST_F(RecoveryPassTest, ProgressArithmeticOfThreeFiles) {
  source.Write("a", RandomBytes(999, 3) + '\0');
  source.Write("b", std::string(1000, 'x'));
  source.Write("c", std::string(1000, 'y'));
  Freeze();
  std::vector<std::pair<std::string, std::vector<int>>> seen;
  window.onText = [&](int id, const std::string& text) {
    if (id == ids::kCurrentFile) seen.push_back({text, window.PositionHistory(ids::kTotalProgress)});
  };
  Recover(dest.str());
  window.onText = nullptr;
  // Whatever the listing order, the totals after each file are fixed points.
  const auto total = window.PositionHistory(ids::kTotalProgress);
  EXPECT_EQ(total.front(), 0);
  EXPECT_NE(std::find(total.begin(), total.end(), 33), total.end());
  EXPECT_NE(std::find(total.begin(), total.end(), 66), total.end());
  EXPECT_EQ(total.back(), 100);
}

TEST_F(RecoveryPassTest, TheUnrecognisedFirstFileStillMovesTheOverallBar) {
  Build("[Text document]\npostfix=.txt\n");
  // Three files of 1,000 bytes; only one listed file is no kind. Check the
  // documented figures by handing files to RecoverFile in a fixed order.
  const std::string a = source.Write("a", RandomBytes(999, 3) + '\0');
  const std::string b = source.Write("b", std::string(1000, 'x'));
  Freeze();
  dialog->ScanFragmentFolder(source.str());
  dialog->m_totalBytes = 3000;
  dialog->m_destFolder = dest.str();
  dialog->m_copiedBytes = 0;
  dialog->RecoverFile(a, "a");
  window.ClearLogs();
  dialog->RecoverFile(b, "b");
  EXPECT_EQ(window.PositionHistory(ids::kTotalProgress), (std::vector<int>{33, 66}));
  EXPECT_EQ(window.Position(ids::kFileProgress), 100);
}

TEST_F(RecoveryPassTest, CopiesInChunksOfThirtyTwoKibibytes) {
  Build("[Text document]\npostfix=.txt\n");
  const std::string exact = source.Write("exact", std::string(32768, 'e'));
  const std::string plusOne = source.Write("plus", std::string(32769, 'p'));
  const std::string half = source.Write("half", std::string(65536, 'h'));
  Freeze();
  dialog->ScanFragmentFolder(source.str());
  dialog->m_destFolder = dest.str();
  dialog->m_copiedBytes = 0;
  const int before = platform.ReadCalls("exact");
  dialog->RecoverFile(exact, "exact");
  EXPECT_EQ(platform.ReadCalls("exact") - before, 2);  // the head, then one chunk
  const int beforePlus = platform.ReadCalls("plus");
  dialog->RecoverFile(plusOne, "plus");
  EXPECT_EQ(platform.ReadCalls("plus") - beforePlus, 3);
  window.ClearLogs();
  dialog->RecoverFile(half, "half");
  EXPECT_EQ(window.PositionHistory(ids::kFileProgress), (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(ReadAll(dest.str() + "/plus.txt"), std::string(32769, 'p'));
}

TEST_F(RecoveryPassTest, WindowHearsOfProgressOnlyWhenAShownValueChanges) {
  Build("[Text document]\npostfix=.txt\n");
  source.Write("big", std::string(8 << 20, 'z'));  // 256 chunks
  Freeze();
  Recover(dest.str());
  const auto file = window.PositionHistory(ids::kFileProgress);
  EXPECT_LE(file.size(), 102u);
  for (std::size_t i = 1; i < file.size(); ++i) EXPECT_NE(file[i], file[i - 1]);
}

TEST_F(RecoveryPassTest, EmptyFilesShowAFullBarRatherThanDividingByZero) {
  source.Write("empty1", "");
  source.Write("empty2", "");
  Freeze();
  Recover(dest.str());
  EXPECT_EQ(window.PositionHistory(ids::kTotalProgress), (std::vector<int>{0, 100}));
  EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
  EXPECT_EQ(dialog->m_copiedBytes, 0u);
}

TEST_F(RecoveryPassTest, EmptyFolderShowsZeroAndFullBars) {
  window.SetItemText(ids::kProcessedCount, "9");
  Recover(dest.str());
  EXPECT_EQ(window.Text(ids::kFileCount), "0");
  EXPECT_EQ(window.Text(ids::kProcessedCount), "9");
  EXPECT_EQ(window.Position(ids::kTotalProgress), 100);
}

TEST_F(RecoveryPassTest, RecoveryRightAfterDetectionHandlesEachFileOnce) {
  for (int i = 0; i < 4; ++i) source.Write(NumberedName("F", i), Jpeg(100));
  Freeze();
  Detect();
  Recover(dest.str());
  EXPECT_EQ(window.Text(ids::kProcessedCount), "4");
  EXPECT_EQ(window.Text(ids::kFileCount), "4");
}

class RecoveryFailureTest : public DialogTest {
 protected:
  // One fragment of 100,000 bytes of text, handled alone.
  void SetUp() override {
    DialogTest::SetUp();
    Build("[Text document]\npostfix=.txt\n");
    bytes = std::string(100000, 't');
    path = source.Write("FILE0000.CHK", bytes);
    source.Write("FILE0001.CHK", "next file\n");
    Freeze();
  }
  std::string Output() { return ReadAll(dest.str() + "/FILE0000.txt"); }
  bool HasOutput() { return std::filesystem::exists(dest.str() + "/FILE0000.txt"); }
  void ExpectNextFileHandled() { EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.txt"), "next file\n"); }
  std::string bytes;
  std::string path;
};

TEST_F(RecoveryFailureTest, StatusFailure) {
  platform.FailStatus("FILE0000.CHK", 5, 1);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, "Get File Info Error");
  EXPECT_EQ(window.Boxes()[0].text, "cann't get " + path + " information, err:5\n");
  EXPECT_FALSE(HasOutput());
  EXPECT_EQ(dialog->m_copiedBytes, 10u);  // only the other file's bytes
  ExpectNextFileHandled();
}

// The window shows nothing for a fragment that could not be examined, as it
// never did; the observer (the command line) hears it as a failure with the
// engine's reason, in both passes, never as "no kind".
TEST_F(RecoveryFailureTest, IdentificationFailureIsAFailureNotNoKind) {
  struct Heard : PassObserver {
    void OnFileDetected(const FileOutcome& o) override {
      if (o.result == FileOutcome::Result::kFailed && !o.failureShown) detected.push_back(o.failure);
    }
    void OnFileRecovered(const FileOutcome& o) override {
      if (o.result == FileOutcome::Result::kFailed && !o.failureShown) recovered.push_back(o.failure);
    }
    std::vector<std::string> detected, recovered;
  } heard;
  dialog->SetPassObserver(&heard);
  platform.FailOpen("FILE0000.CHK", 13);
  Detect();
  Recover(dest.str());
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_FALSE(HasOutput());
  EXPECT_EQ(dialog->m_copiedBytes, 100010u);
  ExpectNextFileHandled();
  EXPECT_EQ(heard.detected, (std::vector<std::string>{"open " + path + " failed"}));
  EXPECT_EQ(heard.recovered, (std::vector<std::string>{"open " + path + " failed"}));
}

// The identification's open serves the copy: the copy only takes the file
// back to its start, and when it cannot, says so as a failed open.
TEST_F(RecoveryFailureTest, SourceCannotBeReadFromItsStartForTheCopy) {
  platform.FailRewind("FILE0000.CHK", 13);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, "Open File Error");
  EXPECT_EQ(window.Boxes()[0].text, "Open file " + path + " for read failed");
  EXPECT_FALSE(HasOutput());
  EXPECT_EQ(dialog->m_copiedBytes, 100010u);
  ExpectNextFileHandled();
}

TEST_F(RecoveryFailureTest, DestinationCannotBeCreated) {
  platform.FailCreate("FILE0000.txt", 28);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, "Open File Error");
  EXPECT_NE(window.Boxes()[0].text.find(JoinPath(dest.str(), "FILE0000.txt")), std::string::npos);
  EXPECT_EQ(dialog->m_copiedBytes, 100010u);
  ExpectNextFileHandled();
}

TEST_F(RecoveryFailureTest, MissingDestinationFolderGivesOneBoxPerRecognisedFile) {
  Recover(dest.str() + "/absent");
  EXPECT_EQ(window.Boxes().size(), 2u);
  EXPECT_EQ(window.Text(ids::kProcessedCount), "2");
}

TEST_F(RecoveryFailureTest, ShortReadInTheCopyKeepsThePartialOutput) {
  platform.ShortReadAfter("FILE0000.CHK", 40000, 2);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, "read File Error");
  EXPECT_EQ(window.Boxes()[0].text, "read file " + path + " error");
  EXPECT_EQ(Output(), bytes.substr(0, 32768));
  EXPECT_EQ(dialog->m_copiedBytes, 32768u + 10u);
  ExpectNextFileHandled();
}

TEST_F(RecoveryFailureTest, WriteFailureKeepsThePartialOutput) {
  platform.FailWriteAfter("FILE0000.txt", 70000);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, "write File Error");
  EXPECT_EQ(window.Boxes()[0].text, "write file " + JoinPath(dest.str(), "FILE0000.txt") + " error");
  EXPECT_EQ(dialog->m_copiedBytes, 65536u + 10u);
  EXPECT_EQ(Output().substr(0, 65536), bytes.substr(0, 65536));
  ExpectNextFileHandled();
}

TEST_F(RecoveryFailureTest, StopDuringIdentificationLeavesAnEmptyOutput) {
  std::filesystem::remove(source.str() + "/FILE0001.CHK");
  snapshot = std::make_unique<FragmentSnapshot>(source.path());
  platform.onOpenRead = [&](const std::string& p) {
    if (platform.OpenCount("FILE0000.CHK") == 0) dialog->OnStopRecover();
  };
  Recover(dest.str());
  platform.onOpenRead = nullptr;
  EXPECT_TRUE(HasOutput());
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(dialog->m_copiedBytes, 0u);
  EXPECT_TRUE(window.Boxes().empty());
  EXPECT_EQ(window.Text(ids::kProcessedCount), "1");
  EXPECT_NE(window.Position(ids::kTotalProgress), 100);  // bars stay after a stop
}

TEST_F(RecoveryFailureTest, StopDuringTheCopyEndsWithinOneChunk) {
  std::filesystem::remove(source.str() + "/FILE0001.CHK");
  snapshot = std::make_unique<FragmentSnapshot>(source.path());
  int reads = 0;
  platform.onRead = [&](const std::string& p, std::uint64_t offset) {
    if (p == path && offset == 32768 && ++reads == 1) dialog->OnStopRecover();
  };
  Recover(dest.str());
  platform.onRead = nullptr;
  // The chunk in hand is finished, then the copy ends and so does the pass.
  EXPECT_EQ(Output(), bytes.substr(0, 65536));
  EXPECT_EQ(dialog->m_copiedBytes, 65536u);
  EXPECT_EQ(window.Text(ids::kProcessedCount), "1");
}

// Parts of one fragment are copied two at a time, and the next is created
// while they are: a stop leaves no part after the one it met, and what was
// written of each part is the start of it.
TEST_F(DialogTest, StopDuringSplitCopiesLeavesNoPartAfterTheStop) {
  Build(ReadAll(std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg"));
  source.Write("FILE0000.CHK", SplitSampleFragment(4096));
  Freeze();
  const std::vector<std::string> parts = SplitSampleParts(4096);
  dialog->SetSplit(true);
  platform.onCreate = [&](const std::string& p) {
    if (p.find("FILE0000-0003") != std::string::npos) dialog->OnStopRecover();
  };
  Recover(dest.str());
  platform.onCreate = nullptr;
  std::set<std::string> made;
  for (const auto& entry : std::filesystem::directory_iterator(dest.str())) {
    const std::string stem = entry.path().stem().string();
    made.insert(stem);
    const std::size_t number = std::stoul(stem.substr(stem.size() - 4));
    ASSERT_GE(number, 1u);
    ASSERT_LE(number, 3u) << stem << " was made after the stop";
    const std::string kept = ReadAll(entry.path().string());
    EXPECT_EQ(parts[number - 1].compare(0, kept.size(), kept), 0) << stem << " is not the start of its part";
  }
  EXPECT_EQ(made.count("FILE0000-0001"), 1u);
  EXPECT_EQ(window.Text(ids::kProcessedCount), "1");
  EXPECT_TRUE(window.Boxes().empty());
}

// An output that cannot be made, while the parts before it are still being
// copied: its message alone, every other part whole, every byte counted.
TEST_F(DialogTest, AFailedPartAmongSplitCopiesLeavesTheOthersWhole) {
  Build(ReadAll(std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg"));
  const std::string fragment = SplitSampleFragment(4096);
  source.Write("FILE0000.CHK", fragment);
  Freeze();
  const std::vector<std::string> parts = SplitSampleParts(4096);
  dialog->SetSplit(true);
  platform.FailCreate("FILE0000-0003.mxf", 13);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_NE(window.Boxes()[0].text.find("FILE0000-0003.mxf"), std::string::npos) << window.Boxes()[0].text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string output;
    for (const auto& entry : std::filesystem::directory_iterator(dest.str())) {
      if (entry.path().stem() == "FILE0000-000" + std::to_string(i + 1)) output = entry.path().string();
    }
    if (i == 2) {
      EXPECT_TRUE(output.empty()) << output;
    } else {
      EXPECT_EQ(ReadAll(output), parts[i]) << i + 1;
    }
  }
  EXPECT_EQ(dialog->m_copiedBytes, fragment.size());
  EXPECT_EQ(window.Text(ids::kProcessedCount), "1");
}

}  // namespace
}  // namespace tessaro::testing
