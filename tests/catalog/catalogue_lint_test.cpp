// LintCatalogue: every finding it promises, nothing on a sound catalogue, and
// its verdict "can never be reached" checked against what IdentifyFile does.

#include "catalog/catalogue_lint.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::TempFolder;
using testing::WriteCatalogue;

std::vector<LintFinding> Lint(const std::string& text) {
  TempFolder folder;
  return LintCatalogue(WriteCatalogue(folder, text));
}

// The findings whose message contains `words`.
std::vector<LintFinding> With(const std::vector<LintFinding>& findings, const std::string& words) {
  std::vector<LintFinding> out;
  for (const LintFinding& f : findings) {
    if (f.message.find(words) != std::string::npos) out.push_back(f);
  }
  return out;
}

std::string Dump(const std::vector<LintFinding>& findings) {
  std::string text;
  for (const LintFinding& f : findings) text += FormatFinding("cfg", f) + "\n";
  return text;
}

const char* const kSound =
    "; a sound catalogue\n"
    "[JPEG]\noffset1 = 0\nsignature1 = FFD8FF\npostfix = .jpg\n\n"
    "[Word]\noffset1 = 0\nsignature1 = 504B0304\npostfix = .docx\naddon1 = 776F72642F\n\n"
    "[ZIP]\noffset1 = 0\nsignature1 = 504B0304\npostfix = .zip\n\n"
    "[TIFF]\noffset1 = 0\nsignature1 = 49492A00\npostfix = .tif\n\n"
    "[TIFF big-endian]\noffset1 = 0\nsignature1 = 4D4D002A\npostfix = .TIF\n\n"
    "[Text]\npostfix = .txt\n";

TEST(CatalogueLintTest, SoundCatalogueHasNoFindings) {
  const auto findings = Lint(kSound);
  EXPECT_TRUE(findings.empty()) << Dump(findings);
}

TEST(CatalogueLintTest, ShippedCatalogueIsClean) {
  const auto findings = LintCatalogue(testing::SharedCatalogue());
  for (const LintFinding& f : findings) EXPECT_TRUE(f.information) << Dump({f});
}

TEST(CatalogueLintTest, UnreadableFileIsOneFinding) {
  TempFolder folder;
  const auto findings = LintCatalogue(folder.str() + "/absent.cfg");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].line, 0u);
  EXPECT_NE(findings[0].message.find("cannot read"), std::string::npos);
}

TEST(CatalogueLintTest, LinesThatStopTheReaderAreNamedWithTheirNumbers) {
  const auto findings = Lint(std::string("[A]\noffset1 = 0\nsignature1 = 41\n\tpostfix = .a\n") +
                             "[B]\noffset1 = 0\nsignature1 = 42\npostfix = .b\n\x01junk\n");
  const auto stops = With(findings, "the reader stops");
  ASSERT_EQ(stops.size(), 2u) << Dump(findings);
  EXPECT_EQ(stops[0].line, 4u);
  EXPECT_NE(stops[0].message.find("tab"), std::string::npos);
  EXPECT_EQ(stops[1].line, 9u);
  // What the reader took in before the stop is still checked: [A] lost its postfix.
  EXPECT_EQ(With(findings, "no postfix").size(), 1u) << Dump(findings);
}

TEST(CatalogueLintTest, ByteOrderMarkAndBlankLeadDoNotStopTheReader) {
  const auto findings = Lint("\xEF\xBB\xBF; comment\n  [A]\noffset1 = 0\nsignature1 = 41\npostfix = .a\n");
  EXPECT_TRUE(findings.empty()) << Dump(findings);
}

TEST(CatalogueLintTest, MoreThan300KindsAreReported) {
  std::string text;
  for (int i = 0; i < 301; ++i) {
    char row[96];
    std::snprintf(row, sizeof row, "[K%d]\noffset1 = 0\nsignature1 = %08X\npostfix = .k%d\n", i, i + 1, i);
    text += row;
  }
  const auto findings = Lint(text);
  ASSERT_EQ(findings.size(), 1u) << Dump(findings);
  EXPECT_NE(findings[0].message.find("301 kinds"), std::string::npos);
  EXPECT_NE(findings[0].message.find("at most 300"), std::string::npos);

  // Exactly 300 is allowed.
  const std::size_t last = text.rfind("[K300]");
  EXPECT_TRUE(Lint(text.substr(0, last)).empty());
}

TEST(CatalogueLintTest, PostfixBetweenPairsShiftsThePairing) {
  const auto findings = Lint("[Shifted]\noffset1 = 0\nsignature1 = 4142\npostfix = .s\noffset2 = 8\nsignature2 = 4A46\n");
  const auto shift = With(findings, "shifts them");
  ASSERT_EQ(shift.size(), 1u) << Dump(findings);
  EXPECT_EQ(shift[0].section, "Shifted");
  EXPECT_EQ(shift[0].line, 5u);
  EXPECT_NE(shift[0].message.find("'offset2' is read as a signature"), std::string::npos);
  EXPECT_NE(shift[0].message.find("'postfix' (line 4)"), std::string::npos);
  // The signature 4A46 landed in an offset's place, the offset 8 in a signature's.
  EXPECT_EQ(With(findings, "'4A46' of key 'signature2' is not a decimal number").size(), 1u) << Dump(findings);
  EXPECT_EQ(With(findings, "signature '8' of key 'offset2'").size(), 1u) << Dump(findings);
  // Two postfix-like keys between the pairs shift them back: no shift finding.
  const auto twice = Lint("[T]\noffset1 = 0\nsignature1 = 41\npostfix = .t\naddon = 42\noffset2 = 8\nsignature2 = 43\n");
  EXPECT_TRUE(With(twice, "shifts them").empty()) << Dump(twice);
}

TEST(CatalogueLintTest, OffsetsAndSignaturesInTheWrongPlaces) {
  // Signature first, then offset: the hex text is read as an offset, the
  // offset as a one-digit signature.
  const auto swapped = Lint("[Swapped]\nsignature1 = FFD8\noffset1 = 0\npostfix = .sw\n");
  EXPECT_EQ(With(swapped, "offset 'FFD8' of key 'signature1' is not a decimal number: it is read as 0").size(), 1u)
      << Dump(swapped);
  EXPECT_EQ(With(swapped, "slipped into a signature's place").size(), 1u) << Dump(swapped);
  // 0x10 is read as 0; the reader's own decimal reading is quoted.
  const auto hexOffset = Lint("[H]\noffset1 = 0x10\nsignature1 = 41\npostfix = .h\n");
  EXPECT_EQ(With(hexOffset, "it is read as 0").size(), 1u) << Dump(hexOffset);
  // A trailing offset without its signature, and a signature without offset.
  const auto dangling = Lint("[D]\noffset1 = 0\nsignature1 = 41\noffset2 = 9\npostfix = .d\n");
  EXPECT_EQ(With(dangling, "'offset2' has no signature").size(), 1u) << Dump(dangling);
  const auto orphan = Lint("[O]\npostfix = .o\nsignature1 = 41\n");
  EXPECT_EQ(With(orphan, "no offset paired with it, so it never fits: the kind never matches").size(), 1u)
      << Dump(orphan);
}

TEST(CatalogueLintTest, RepeatedKeyNamesMerge) {
  const auto findings = Lint("[R]\noffset = 0\nsignature = FFD8\noffset = 6\nsignature = 4A46\npostfix = .r\n");
  const auto repeats = With(findings, "repeats the key of line");
  ASSERT_EQ(repeats.size(), 2u) << Dump(findings);
  EXPECT_EQ(repeats[0].line, 4u);
  EXPECT_NE(repeats[0].message.find("line 2"), std::string::npos);
}

TEST(CatalogueLintTest, KeyWordsAreCaseSensitive) {
  const auto findings = Lint("[C]\noffset1 = 0\nsignature1 = 41\nPostfix = .c\n");
  EXPECT_EQ(With(findings, "'Postfix' is read as an offset or a signature").size(), 1u) << Dump(findings);
  EXPECT_EQ(With(findings, "no postfix key").size(), 1u) << Dump(findings);
}

TEST(CatalogueLintTest, TextThatIsNotHexadecimal) {
  const auto findings = Lint(
      "[BadSig]\noffset1 = 0\nsignature1 = 4G\npostfix = .b\n"
      "[BadAddon]\noffset1 = 0\nsignature1 = 42\npostfix = .c\naddon1 = word/\n"
      "[Odd]\noffset1 = 0\nsignature1 = 504B3\npostfix = .d\naddon1 = 414\n"
      "[EmptyAddon]\noffset1 = 0\nsignature1 = 43\npostfix = .e\naddon1 =\n");
  const auto notHex = With(findings, "is not a hexadecimal digit");
  ASSERT_EQ(notHex.size(), 2u) << Dump(findings);
  EXPECT_EQ(notHex[0].section, "BadSig");
  EXPECT_NE(notHex[0].message.find("'G'"), std::string::npos);
  EXPECT_EQ(notHex[1].section, "BadAddon");
  EXPECT_NE(notHex[1].message.find("'w'"), std::string::npos);
  EXPECT_EQ(With(findings, "odd number of hexadecimal digits").size(), 2u) << Dump(findings);
  EXPECT_EQ(With(findings, "it never occurs, so the kind never matches").size(), 1u) << Dump(findings);
}

TEST(CatalogueLintTest, KindsWithoutSignaturesExceptTheTextRow) {
  const auto findings = Lint(
      "[Text]\npostfix = .txt\n"
      "[Notes]\npostfix = .nts\n"
      "[Shouting text]\npostfix = .TXT\n"
      "[Nothing]\n");
  const auto never = With(findings, "no signatures");
  ASSERT_EQ(never.size(), 2u) << Dump(findings);
  EXPECT_EQ(never[0].section, "Notes");
  EXPECT_EQ(never[1].section, "Shouting text");
  EXPECT_EQ(With(findings, "has no keys").size(), 1u) << Dump(findings);
}

TEST(CatalogueLintTest, NegativeOffsets) {
  const auto findings = Lint(
      "[First]\noffset1 = -4\nsignature1 = 41\npostfix = .f\n"
      "[Later]\noffset1 = 0\nsignature1 = 42\noffset2 = -1\nsignature2 = 43\npostfix = .l\n");
  EXPECT_EQ(With(findings, "negative offset -4, so it never fits: the kind never matches").size(), 1u)
      << Dump(findings);
  EXPECT_EQ(With(findings, "negative offset -1, so it never fits: it and the signatures after").size(), 1u)
      << Dump(findings);
}

// Kinds of one file type share an extension and so its first row: that is
// information, not a finding. Only the exact spelling is shared.
TEST(CatalogueLintTest, ExtensionsUsedTwiceAreInformation) {
  const auto findings = Lint(
      "[TIFF]\noffset1 = 0\nsignature1 = 49492A00\npostfix = .tif\n"
      "[TIFF big-endian]\noffset1 = 0\nsignature1 = 4D4D002A\npostfix = .tif\n"
      "[TIFF again]\noffset1 = 0\nsignature1 = 49492B00\npostfix = .TIF\n");
  ASSERT_EQ(findings.size(), 1u) << Dump(findings);
  EXPECT_TRUE(findings[0].information);
  EXPECT_EQ(findings[0].section, "TIFF big-endian");
  EXPECT_EQ(findings[0].message, "extension .tif counted on row 0 with TIFF (line 1)");
  EXPECT_EQ(FormatFinding("k.cfg", findings[0]),
            "k.cfg:5: info: [TIFF big-endian] extension .tif counted on row 0 with TIFF (line 1)");
}

TEST(CatalogueLintTest, RepeatedHeaderLeavesAnEmptyRow) {
  const auto findings = Lint("[Photo]\noffset1 = 0\nsignature1 = 41\n[photo]\npostfix = .p\n");
  const auto repeat = With(findings, "the header repeats [Photo] of line 1");
  ASSERT_EQ(repeat.size(), 1u) << Dump(findings);
  EXPECT_EQ(repeat[0].line, 4u);
  // The postfix joined the first kind, which is therefore complete.
  EXPECT_EQ(findings.size(), 1u) << Dump(findings);
}

TEST(CatalogueLintTest, SignatureThatReachesBeyondTheFirst) {
  const auto findings = Lint("[JFIF]\noffset1 = 0\nsignature1 = FFD8\noffset2 = 6000\nsignature2 = 4A464946\npostfix = .j\n");
  EXPECT_EQ(With(findings, "signature 2 (offset 6000) reaches beyond").size(), 1u) << Dump(findings);
  EXPECT_TRUE(Lint("[JFIF]\noffset1 = 6000\nsignature1 = 4A464946\noffset2 = 0\nsignature2 = FFD8\npostfix = .j\n").empty());
}

TEST(CatalogueLintTest, FindingsAreOrderedByLineAndFormatted) {
  const auto findings = Lint("[B]\noffset1 = 0\nsignature1 = 42\n[A]\noffset1 = 0\nsignature1 = 4\npostfix = .a\n");
  ASSERT_EQ(findings.size(), 2u) << Dump(findings);
  EXPECT_EQ(findings[0].line, 1u);
  EXPECT_EQ(findings[1].line, 6u);
  EXPECT_EQ(FormatFinding("x.cfg", findings[0]),
            "x.cfg:1: [B] the kind has no postfix key: its files are recovered without an extension");
  EXPECT_EQ(FormatFinding("x.cfg", LintFinding{"", 0, "m"}), "x.cfg: m");
}

// "Can never be reached", checked both ways: the lint's verdict, and the
// engine on files that satisfy the later kind's signatures (and content).
struct ReachCase {
  const char* what;
  const char* earlier;  // keys of [Earlier], postfix .e
  const char* later;    // keys of [Later], postfix .l
  bool unreachable;
  // Files to identify: each must come back as [Later] when reachable is
  // expected for it, and never as [Later] when the lint says unreachable.
  std::vector<std::string> files;
};

std::string Pad(std::string head, std::size_t size, char fill = 'x') {
  head.resize(size, fill);
  return head;
}

class ReachabilityTest : public ::testing::TestWithParam<ReachCase> {};

TEST_P(ReachabilityTest, LintAgreesWithIdentification) {
  const ReachCase& c = GetParam();
  TempFolder folder;
  const std::string path = WriteCatalogue(
      folder, std::string("[Earlier]\n") + c.earlier + "postfix = .e\n[Later]\n" + c.later + "postfix = .l\n");
  const auto findings = LintCatalogue(path);
  EXPECT_EQ(!With(findings, "can never be reached").empty(), c.unreachable) << c.what << "\n" << Dump(findings);

  FragmentEngine engine(path);
  ASSERT_TRUE(engine.ready);
  for (std::size_t i = 0; i < c.files.size(); ++i) {
    const std::string file = folder.Write(testing::NumberedName("f", i), c.files[i]);
    const FileTypeRecord* kind = engine.IdentifyFile(file.c_str());
    const bool isLater = kind != nullptr && kind->ExtensionOrEmpty() == ".l";
    EXPECT_EQ(isLater, !c.unreachable) << c.what << ", file " << i << " of " << c.files[i].size() << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReachabilityTest,
    ::testing::Values(
        ReachCase{"a prefix comes first", "offset1 = 0\nsig1 = FFD8\n", "offset1 = 0\nsig1 = FFD8FF\n", true,
                  {Pad("\xFF\xD8\xFF", 3), Pad("\xFF\xD8\xFF", 100)}},
        ReachCase{"the longer comes first", "offset1 = 0\nsig1 = FFD8FF\n", "offset1 = 0\nsig1 = FFD8\n", false,
                  {Pad("\xFF\xD8\x00", 50)}},
        ReachCase{"covered by a later signature of the later kind", "offset1 = 8\nsig1 = 57454250\n",
                  "offset1 = 8\nsig1 = 5745425056503820\noffset2 = 0\nsig2 = 52494646\n", true,
                  {Pad("RIFFxxxxWEBPVP8 ", 16), Pad("RIFFxxxxWEBPVP8 ", 400)}},
        ReachCase{"the earlier needs bytes the later does not fix", "offset1 = 0\nsig1 = 41\noffset2 = 10\nsig2 = 42\n",
                  "offset1 = 20\nsig1 = 43\noffset2 = 0\nsig2 = 41\n", false, {Pad(Pad("A", 20, 'z') + "C", 21)}},
        // The earlier kind's second signature is skipped in files too short
        // for it, and in longer ones the later kind fixes its byte.
        ReachCase{"shadowed in every size range", "offset1 = 0\nsig1 = 41\noffset2 = 30\nsig2 = 42\n",
                  "offset1 = 0\nsig1 = 41\noffset2 = 20\nsig2 = 43\noffset3 = 30\nsig3 = 42\n", true,
                  {Pad("A", 5), Pad(Pad("A", 20) + "C", 25), Pad(Pad(Pad("A", 20) + "C", 30) + "B", 31),
                   Pad(Pad(Pad("A", 20) + "C", 30) + "B", 90)}},
        ReachCase{"a short file escapes the earlier kind", "offset1 = 0\nsig1 = 41\noffset2 = 30\nsig2 = 42\n",
                  "offset1 = 0\nsig1 = 41\noffset2 = 20\nsig2 = 43\n", false,
                  {Pad(Pad("A", 20) + "C", 40)}},
        ReachCase{"the earlier kind's content strings are part of the later's",
                  "offset1 = 0\nsig1 = 504B0304\naddon1 = 776F7264\n",
                  "offset1 = 0\nsig1 = 504B0304\naddon1 = 776F72642F\naddon2 = 5B436F6E74656E745F\n", true,
                  {Pad("PK\x03\x04 word/ [Content_", 64)}},
        ReachCase{"the later kind needs less content", "offset1 = 0\nsig1 = 504B0304\naddon1 = 41\naddon2 = 42\n",
                  "offset1 = 0\nsig1 = 504B0304\naddon1 = 41\n", false, {Pad("PK\x03\x04 A", 64)}},
        ReachCase{"content strings leave the way open to a plain kind", "offset1 = 0\nsig1 = 504B0304\naddon1 = 41\n",
                  "offset1 = 0\nsig1 = 504B0304\n", false, {Pad("PK\x03\x04", 64)}},
        ReachCase{"a kind that never matches shadows nothing", "offset1 = -1\nsig1 = 41\n",
                  "offset1 = 0\nsig1 = 41\n", false, {Pad("A", 10)}},
        ReachCase{"an empty signature matches every file", "offset1 = 0\nsig1 =\n", "offset1 = 4\nsig1 = 4142\n", true,
                  {Pad("xxxxAB", 6), Pad("xxxxAB", 5000)}}));

}  // namespace
}  // namespace tessaro
