// Rescue reading: fragments with unreadable sectors, as a failing card gives
// them, recovered with every readable byte and zeros in place of the rest.

#include <gtest/gtest.h>

#include <filesystem>

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;

struct Heard : PassObserver {
  void OnFileRecovered(const FileOutcome& o) override { outcomes.push_back(o); }
  std::vector<FileOutcome> outcomes;
};

std::string Text(std::size_t size) {
  std::string text;
  while (text.size() < size) text += "a line of a letter that lay on a failing card\n";
  text.resize(size);
  return text;
}

// `bytes` with zeros where `ranges` lie.
std::string Holed(std::string bytes, const std::vector<RescueReads::Range>& ranges) {
  for (const RescueReads::Range& r : ranges) bytes.replace(r.offset, r.length, r.length, '\0');
  return bytes;
}

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

struct Case {
  const char* what;
  std::string fragment;  // the bytes of FILE0000.CHK
  Ranges bad;            // bytes the medium cannot give
  const char* output;    // "" when nothing may be written
  std::uint64_t length;  // the output's length
  Ranges unreadable;     // zeros in the output
  formats::Verdict verdict;
};

class RescueTest : public DialogTest {
 protected:
  void SetUp() override { Build(ReadAll(SharedCatalogue())); }
};

TEST_F(RescueTest, KeepsEveryReadableByteAndZerosTheRest) {
  const std::string wav = Kind("sox.wav");  // 13,274 bytes, its end told by its chunks
  const std::string slack = std::string(38, '\0') + RandomBytes(3072, 5);
  const std::string text = Text(20480);
  const Case cases[] = {
      {"a bad sector among the samples: cut at the true end, damaged", wav + slack, {{4096, 512}}, "FILE0000.wav",
       wav.size(), {{4096, 512}}, formats::Verdict::kDamaged},
      {"a bad block of four sectors, one read failing in its middle", wav + slack, {{2500, 1}, {2560, 1536}},
       "FILE0000.wav", wav.size(), {{2048, 2048}}, formats::Verdict::kDamaged},
      {"bad sectors only in the slack past the end: never read, intact", wav + slack, {{14336, 1024}}, "FILE0000.wav",
       wav.size(), {}, formats::Verdict::kIntact},
      {"text is not cut at the zeros of an unreadable sector", text, {{8192, 512}}, "FILE0000.txt", text.size(),
       {{8192, 512}}, formats::Verdict::kDamaged},
      {"the first sector unreadable: kept under the fragment's own name", text, {{0, 512}}, "FILE0000.CHK",
       text.size(), {{0, 512}}, formats::Verdict::kDamaged},
      {"a failing last, partial sector", text + "end", {{20480, 3}}, "FILE0000.txt", text.size() + 3,
       {{20480, 3}}, formats::Verdict::kDamaged},
      {"nothing readable: a failure, as without rescue", text, {{0, 20480}}, "", 0, {}, formats::Verdict::kUnchecked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    TempFolder out;
    const std::string path = folder.Write("FILE0000.CHK", c.fragment);
    for (const auto& [offset, length] : c.bad) platform.BadBytes(path, offset, length);
    Heard heard;
    dialog->SetPassObserver(&heard);
    dialog->SetFormatChecks(true, true);
    dialog->SetRescue(true);
    dialog->SetSourceFolder(folder.str());
    dialog->SetDestFolder(out.str());
    dialog->OnRecover();
    dialog->WaitForWorker();

    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_LE(platform.MostTriesOfABadSector(path), 2);
    ASSERT_EQ(heard.outcomes.size(), 1u);
    const FileOutcome& o = heard.outcomes[0];
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(out.path())) written.push_back(entry.path().filename().string());
    if (*c.output == '\0') {
      EXPECT_EQ(o.result, FileOutcome::Result::kFailed);
      EXPECT_TRUE(written.empty());
      continue;
    }
    // Nothing but the output is left in the destination.
    EXPECT_EQ(written, std::vector<std::string>{c.output});
    EXPECT_EQ(o.result, FileOutcome::Result::kRecovered);
    ASSERT_TRUE(o.check.has_value());
    EXPECT_EQ(o.check->verdict, c.verdict) << o.check->detail;
    std::vector<RescueReads::Range> expected;
    for (const auto& [offset, length] : c.unreadable) expected.push_back({offset, length});
    ASSERT_EQ(o.unreadable.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(o.unreadable[i].offset, expected[i].offset);
      EXPECT_EQ(o.unreadable[i].length, expected[i].length);
      // The report and the window show the places in the check's detail.
      const std::string place = std::to_string(expected[i].offset) + '+' + std::to_string(expected[i].length);
      EXPECT_NE(o.check->detail.find(' ' + place), std::string::npos) << o.check->detail;
    }
    const std::string bytes = ReadAll((out.path() / c.output).string());
    EXPECT_EQ(bytes.size(), c.length);
    EXPECT_TRUE(bytes == Holed(c.fragment.substr(0, c.length), expected));
    EXPECT_EQ(dialog->RescuedFiles(), expected.empty() ? 0u : 1u);
  }
}

TEST_F(RescueTest, WithoutRescueAnUnreadableSectorFailsTheFragmentAsBefore) {
  source.Write("FILE0000.CHK", Text(20480));
  platform.BadBytes("FILE0000.CHK", 8192, 512);
  Heard heard;
  dialog->SetPassObserver(&heard);
  dialog->SetFormatChecks(true, true);
  Recover(dest.str());
  ASSERT_EQ(heard.outcomes.size(), 1u);
  EXPECT_EQ(heard.outcomes[0].result, FileOutcome::Result::kFailed);
  EXPECT_TRUE(fs::is_empty(dest.path()));
}

TEST_F(RescueTest, TheWindowWithTheOptionSaysOnceHowManyFilesCameBackWithHoles) {
  const std::string text = Text(20480);
  for (const char* name : {"FILE0000.CHK", "FILE0001.CHK", "FILE0002.CHK"}) source.Write(name, text);
  platform.BadBytes("FILE0000.CHK", 4096, 1024);
  platform.BadBytes("FILE0002.CHK", 0, 512);
  RecoveryOptions options;
  options.rescue = true;
  dialog->ApplyOptions(options);
  Recover(dest.str());
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, texts::kRescueSummaryCaption);
  EXPECT_EQ(window.Boxes()[0].text, FormatText(texts::kRescueSummary, 2ULL, 1536ULL));
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0001.txt"), text);
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0000.txt").size(), text.size());
  EXPECT_EQ(ReadAll(dest.str() + "/FILE0002.CHK").size(), text.size());
}

}  // namespace
}  // namespace tessaro::testing
