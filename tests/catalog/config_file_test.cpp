// The INI reader: line kinds, sections, keys, comments and where reading stops.

#include "catalog/config_file.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::TempFolder;

class ConfigFileTest : public ::testing::Test {
 protected:
  ConfigFile Read(const std::string& text, bool expected = true) {
    ConfigFile config(folder_.Write("test.ini", text));
    EXPECT_EQ(config.ReadFile(), expected);
    return config;
  }
  TempFolder folder_;
};

TEST_F(ConfigFileTest, KeysBeforeAnyHeaderGoToDefaultSectionInOrder) {
  ConfigFile config = Read("width = 3\n[Alpha]\nx=1\n");
  ASSERT_EQ(config.SectionCount(), 2u);
  EXPECT_EQ(config.SectionName(0), "default");
  EXPECT_EQ(config.KeyValue(0, 0, "?"), "3");
  EXPECT_EQ(config.SectionName(1), "Alpha");
}

TEST_F(ConfigFileTest, EmptyOrBlankHeaderIsDefault) {
  ConfigFile config = Read("[]\na=1\n[   ]\nb=2\n");
  ASSERT_EQ(config.SectionCount(), 2u);
  EXPECT_EQ(config.SectionName(0), "default");
  EXPECT_EQ(config.SectionName(1), "default");
  // Keys go to the first section of the name.
  EXPECT_EQ(config.KeyCount(0), 2u);
  EXPECT_EQ(config.KeyCount(1), 0u);
}

TEST_F(ConfigFileTest, RepeatedHeaderAddsEmptyEntryAndKeysJoinTheFirst) {
  ConfigFile config = Read("[Alpha]\nx=1\n[alpha]\ny=2\n");
  ASSERT_EQ(config.SectionCount(), 2u);
  EXPECT_EQ(config.KeyCount(0), 2u);
  EXPECT_EQ(config.KeyCount(1), 0u);
  EXPECT_EQ(config.KeyName(0, 1), "y");
}

TEST_F(ConfigFileTest, RepeatedKeyKeepsPositionAndFirstSpellingWithLaterValue) {
  ConfigFile config = Read("[s]\nName=1\nother=2\nNAME=3\n");
  ASSERT_EQ(config.KeyCount(0), 2u);
  EXPECT_EQ(config.KeyName(0, 0), "Name");
  EXPECT_EQ(config.KeyValue(0, 0, ""), "3");
}

TEST_F(ConfigFileTest, HeaderNamesAreTrimmedAndClosedByTheLastBracket) {
  ConfigFile config = Read("  [  bare  ]  \n[a] x ]\n[a;b]\n[name] ; remark\n");
  ASSERT_EQ(config.SectionCount(), 4u);
  EXPECT_EQ(config.SectionName(0), "bare");
  EXPECT_EQ(config.SectionName(1), "a] x");
  EXPECT_EQ(config.SectionName(2), "a;b");
  EXPECT_EQ(config.SectionName(3), "name");
}

TEST_F(ConfigFileTest, HeaderWithoutClosingBracketIsIgnored) {
  ConfigFile config = Read("[open\n[s]\n");
  ASSERT_EQ(config.SectionCount(), 1u);
  EXPECT_EQ(config.SectionName(0), "s");
}

TEST_F(ConfigFileTest, QuotesAreTrimmedAtEitherEndIndependently) {
  ConfigFile config = Read("[s]\na = 'two words'\nb = 'x\nc = \"q\"\n");
  EXPECT_EQ(config.KeyValue(0, 0, ""), "two words");
  EXPECT_EQ(config.KeyValue(0, 1, ""), "x");
  EXPECT_EQ(config.KeyValue(0, 2, ""), "q");
}

TEST_F(ConfigFileTest, FurtherEqualsSignsBelongToTheValue) {
  ConfigFile config = Read("[s]\nx = y = z\n");
  EXPECT_EQ(config.KeyName(0, 0), "x");
  EXPECT_EQ(config.KeyValue(0, 0, ""), "y = z");
}

TEST_F(ConfigFileTest, TrailingCommentIsCutAndAttachedToTheKey) {
  ConfigFile config = Read("[s]\na = y ; note\nb = y#z\n");
  EXPECT_EQ(config.KeyValue(0, 0, ""), "y");
  ASSERT_EQ(config.sections[0].keyComments[0].size(), 1u);
  EXPECT_EQ(config.sections[0].keyComments[0][0], "note");
  EXPECT_EQ(config.KeyValue(0, 1, ""), "y");
}

TEST_F(ConfigFileTest, EmptyKeyNameAndEmptyValueAreStored) {
  ConfigFile config = Read("[s]\n= v\nk =\n");
  ASSERT_EQ(config.KeyCount(0), 2u);
  EXPECT_EQ(config.KeyName(0, 0), "");
  EXPECT_EQ(config.KeyValue(0, 0, "?"), "v");
  EXPECT_EQ(config.KeyName(0, 1), "k");
  EXPECT_EQ(config.KeyValue(0, 1, "?"), "");
}

TEST_F(ConfigFileTest, CommentLineHidesKeysAndHeadersOnIt) {
  ConfigFile config = Read("[s]\n; a = 1\n# [t]\nplain text line\n");
  EXPECT_EQ(config.SectionCount(), 1u);
  EXPECT_EQ(config.KeyCount(0), 0u);
}

TEST_F(ConfigFileTest, CommentsBeforeAnySectionAreHeaderComments) {
  ConfigFile config = Read("; first\n# second\n[s]\nk=1\n; about k\n");
  ASSERT_EQ(config.headerComments.size(), 2u);
  EXPECT_EQ(config.headerComments[1], "second");
  ASSERT_EQ(config.sections[0].keyComments[0].size(), 1u);
  EXPECT_EQ(config.sections[0].keyComments[0][0], "about k");
}

TEST_F(ConfigFileTest, CrLfReadsLikeLfAndLastLineNeedsNoEnd) {
  ConfigFile crlf = Read("[s]\r\na = 1\r\nb = 2");
  ConfigFile lf = Read("[s]\na = 1\nb = 2\n");
  ASSERT_EQ(crlf.KeyCount(0), 2u);
  EXPECT_EQ(crlf.KeyValue(0, 1, ""), lf.KeyValue(0, 1, ""));
  EXPECT_EQ(crlf.KeyValue(0, 0, ""), "1");
}

// CR CR LF reads as text mode gives it (CR LF becomes LF) after which the
// reader drops one more CR; a CR anywhere else stays in the line.
TEST_F(ConfigFileTest, LineEndsReadAsTextModeGivesThem) {
  struct Case {
    const char* text;
    bool ok;
    const char* value;  // of the one key of section 0
  };
  const Case cases[] = {
      {"[s]\r\r\nkey = v\r\r\n", true, "v"},
      {"[s]\r\n\r\r\nkey = v\r\n", true, "v"},        // a blank line saved as CR CR LF
      {"[s]\r\r\n\r\r\nkey = v", true, "v"},
      {"[s]\nkey = x\ry\n", true, "x\ry"},            // a lone CR inside a line stays
      {"[s]\nkey = v\n\r\r\r\n", false, "v"},        // three: one CR is left, and stops the reader
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    ConfigFile config = Read(c.text, c.ok);
    ASSERT_EQ(config.KeyCount(0), 1u);
    EXPECT_EQ(config.KeyValue(0, 0, "?"), c.value);
  }
}

TEST_F(ConfigFileTest, LineStartingWithControlCharacterStopsWithFalseKeepingEarlierSections) {
  ConfigFile config = Read("[s]\na=1\n\tb=2\n[t]\n", false);
  EXPECT_EQ(config.SectionCount(), 1u);
  EXPECT_EQ(config.KeyCount(0), 1u);
  EXPECT_EQ(config.StoppedAtLine(), 3u);
  Read("[s]\n\x7f" "x\n", false);
  Read("[s]\n\x01\n", false);
}

TEST_F(ConfigFileTest, LeadingBlanksAndHighBytesAreFine) {
  // A UTF-8 byte-order mark, or a double-byte character, may begin a line.
  ConfigFile config = Read("\xEF\xBB\xBF[s]\n   a = 1\n\xB0\xA1 = 2\n");
  ASSERT_EQ(config.SectionCount(), 1u);
  EXPECT_EQ(config.SectionName(0), "s");
  ASSERT_EQ(config.KeyCount(0), 2u);
  EXPECT_EQ(config.KeyName(0, 1), "\xB0\xA1");
}

TEST_F(ConfigFileTest, EmptyLinesAreSkippedEvenAsBareCarriageReturns) {
  ConfigFile config = Read("\n\r\n[s]\n\r\na=1\n");
  EXPECT_EQ(config.KeyCount(0), 1u);
}

TEST_F(ConfigFileTest, FileWithoutSectionsOrMissingFileIsFalse) {
  Read("just words\n; comment\n", false);
  Read("", false);
  ConfigFile missing(folder_.str() + "/nope.ini");
  EXPECT_FALSE(missing.ReadFile());
  EXPECT_EQ(missing.SectionCount(), 0u);
}

TEST_F(ConfigFileTest, VeryLongLinesAreRead) {
  const std::string value(1 << 20, 'A');
  ConfigFile config = Read("[s]\nk = " + value + "\n");
  EXPECT_EQ(config.KeyValue(0, 0, "").size(), value.size());
}

TEST(ConfigFileIndexTest, OutOfRangeIndicesNeverFail) {
  ConfigFile config("unused");
  config.AddSection("s");
  config.SetValue("s", "k", "v", true);
  EXPECT_EQ(config.SectionName(5), "");
  EXPECT_EQ(config.KeyCount(5), 0u);
  EXPECT_EQ(config.KeyName(0, 9), "");
  EXPECT_EQ(config.KeyValue(0, 1, "fallback"), "fallback");
  EXPECT_EQ(config.FindSection("none"), -1);
  EXPECT_EQ(config.FindKey(3, "k"), -1);
  EXPECT_EQ(config.FindKey(0, "K"), 0);
  EXPECT_FALSE(config.SetValue("none", "k", "v", false));
  EXPECT_FALSE(config.SetValue("s", "new", "v", false));
  EXPECT_FALSE(config.SetKeyComment("s", "missing", "c"));
  EXPECT_FALSE(config.AddKeyComment(0, 4, "c"));
  EXPECT_TRUE(config.AddKeyComment(0, 0, "c"));
}

TEST(ConfigFileIndexTest, CaseSensitiveWhenAsked) {
  ConfigFile config("unused");
  config.caseInsensitive = false;
  config.AddSection("S");
  EXPECT_EQ(config.FindSection("s"), -1);
  EXPECT_EQ(config.Normalize("AbC"), "AbC");
  config.caseInsensitive = true;
  EXPECT_EQ(config.Normalize("AbC\xC4"), "abc\xC4");
}

TEST(ConfigFileTrimTest, StripsBlanksQuotesAndLineEnds) {
  EXPECT_EQ(ConfigFile::Trim(" \t\"'x y'\"\r\n"), "x y");
  EXPECT_EQ(ConfigFile::Trim("\"\"''  "), "");
  EXPECT_EQ(ConfigFile::Trim("a\"b"), "a\"b");
}

}  // namespace
}  // namespace tessaro
