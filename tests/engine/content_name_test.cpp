// Names from a file's own metadata, on real files made by real programs
// (tests/data/make-names.sh): each file alone, followed by slack, and cut
// short; then the rules that make any text a safe name.

#include "engine/names/content_name.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::names {
namespace {

using testing::ReadAll;

struct Named {
  const char* file;
  const char* name;
};

// Each file of tests/data/names and what it is named after ("" for none).
const Named kFiles[] = {
    {"exiftool.jpg", "2019-07-14 15.30.12"},
    {"exiftool-modify-date.jpg", ""},  // only when it was changed
    {"exiftool-zero-date.jpg", ""},
    {"imagemagick-no-exif.jpg", ""},
    {"exiftool-motorola.tif", "2018-12-31 23.59.58"},
    {"exiftool-intel.tif", "2017-02-03 04.05.06"},
    {"exiftool.dng", "2016-05-06 07.08.09"},
    {"exiftool.heic", "2022-08-09 10.11.12"},
    {"ffmpeg.mp4", "2021-03-04 05.06.07"},
    {"ffmpeg.mov", "2021-03-04 05.06.07"},
    {"ffmpeg-moov-last.3gp", "2020-10-11 12.13.14"},
    {"ffmpeg-no-date.mp4", ""},
    {"ffmpeg.m4a", "M4A Artist - M4A Title"},  // a song: its tags before its date
    {"ffmpeg-no-tags.m4a", "2022-01-02 03.04.05"},
    {"ffmpeg-id3v23.mp3", "Ünal Çelik - Şarkı №1"},  // UTF-16 with a byte order mark
    {"ffmpeg-id3v24.mp3", "The Band - Song Two"},    // 'Song: "Two"?' made safe
    {"ffmpeg-title-only.mp3", "Only a Title"},
    {"lame-id3v1.mp3", "Old Player - Version One"},
    {"ffmpeg-no-tag.mp3", ""},
    {"flac.flac", "Flac Artist - Flac Title"},
    {"oggenc.ogg", "Ogg Artist - Ogg Title"},
    {"ffmpeg.opus", "Opus Artist - Opus Title"},
    {"speexenc.spx", "Speex Artist - Speex Title"},
    {"ffmpeg-theora.ogv", "Film Maker - Film Title"},
    {"libreoffice.odt", "Quarterly report & plans — 2024"},
    {"libreoffice-no-title.odt", ""},
    {"libreoffice.docx", "Quarterly report & plans — 2024"},
    {"libreoffice.doc", "Quarterly report & plans — 2024"},
    {"libreoffice.ods", "Budget 2025"},
    {"libreoffice.xlsx", "Budget 2025"},
    {"libreoffice.xls", "Budget 2025"},
    {"libreoffice.pdf", "Quarterly report & plans — 2024"},
    {"ghostscript.pdf", "Annual (draft) report one"},  // escapes in a literal string
    {"ghostscript-utf16.pdf", "Côte d'été"},
    {"qpdf-object-streams.pdf", "Quarterly report & plans — 2024"},
    {"handmade-utf8.html", "Café & Bar – Menü"},
    {"handmade-latin1.htm", "Grüße aus Köln"},
    {"libreoffice.html", "Quarterly report & plans — 2024"},
};

std::string Data(const std::string& file) {
  return ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/names/" + file);
}
std::string Extension(const std::string& file) { return file.substr(file.rfind('.')); }

// The name of `bytes` as a fragment of the kind of `file`, held in memory.
std::string NameOf(const std::string& file, const std::string& bytes) {
  testing::MemoryPlatform memory(bytes);
  return ContentName(memory, "fragment" + Extension(file), Extension(file));
}

TEST(ContentNameTest, EachFileIsNamedByItsMetadataWhateverSlackFollows) {
  const std::size_t count = std::size(kFiles);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string file = kFiles[i].file;
    const std::string bytes = Data(file);
    ASSERT_FALSE(bytes.empty()) << file;
    EXPECT_EQ(NameOf(file, bytes), kFiles[i].name) << file;
    // A disk's slack: zeros to the end of the sector, then older data (here
    // the middle of the next file of the table) to the cluster's end.
    std::string slack = bytes + std::string((512 - bytes.size() % 512) % 512, '\0');
    EXPECT_EQ(NameOf(file, slack), kFiles[i].name) << file << " + zeros";
    const std::string older = Data(kFiles[(i + 1) % count].file);
    slack += older.substr(older.size() / 2, 4096 - slack.size() % 4096);
    EXPECT_EQ(NameOf(file, slack), kFiles[i].name) << file << " + older data";
  }
}

// A fragment that holds only the start of the file, cut anywhere: the name is
// the whole file's or none, never half a title or another field.
TEST(ContentNameTest, AFileCutShortGivesItsNameOrNone) {
  for (const Named& named : kFiles) {
    const std::string bytes = Data(named.file);
    testing::MemoryPlatform memory;
    // Every byte of the small files; a thousand points of the larger ones.
    const std::size_t step = std::max<std::size_t>(1, bytes.size() / 1024);
    for (std::size_t cut = 1; cut < bytes.size(); cut += step) {
      memory.Set(bytes.substr(0, cut));
      const std::string name = ContentName(memory, named.file, Extension(named.file));
      if (!name.empty()) {
        EXPECT_EQ(name, named.name) << named.file << " cut at " << cut;
      }
    }
  }
}

TEST(ContentNameTest, KindsWithoutAReaderAndOtherKindsBytesGiveNoName) {
  EXPECT_EQ(NameOf("x.png", Data("exiftool.jpg")), "");
  EXPECT_EQ(NameOf("x.jpg", Data("exiftool-intel.tif")), "");
  EXPECT_EQ(NameOf("x.mp3", Data("flac.flac")), "");
  EXPECT_EQ(NameOf("x.pdf", Data("handmade-utf8.html")), "");
  EXPECT_EQ(ContentName(SystemPlatform(), "/no/such/file.jpg", ".jpg"), "");
  EXPECT_TRUE(HasContentReader(".JPG"));
  EXPECT_FALSE(HasContentReader("png"));
}

// An ID3v2 tag of `version` holding `frames` (each id, then its body).
std::string Id3(int version, int flags, const std::vector<std::pair<std::string, std::string>>& frames,
                const std::string& extended = "") {
  std::string body = extended;
  for (const auto& [id, text] : frames) {
    const std::size_t n = text.size();
    body += id;
    if (version == 2) {
      body += {static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    } else if (version == 3) {
      body += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    } else {
      body += {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F), static_cast<char>(n >> 7 & 0x7F),
               static_cast<char>(n & 0x7F)};
    }
    if (version > 2) body += std::string(2, '\0');
    body += text;
  }
  const std::size_t n = body.size();
  return std::string("ID3") + static_cast<char>(version) + '\0' + static_cast<char>(flags) +
         static_cast<char>(n >> 21 & 0x7F) + static_cast<char>(n >> 14 & 0x7F) + static_cast<char>(n >> 7 & 0x7F) +
         static_cast<char>(n & 0x7F) + body;
}

// What no program at hand writes: ID3v2.2, the other text encodings,
// unsynchronisation and an extended header.
TEST(ContentNameTest, ReadsEachVersionAndTextEncodingOfId3v2) {
  using std::string_literals::operator""s;
  const struct {
    const char* what;
    std::string tag;
    const char* name;
  } cases[] = {
      {"2.2", Id3(2, 0, {{"TT2", "\0Title"s}, {"TP1", "\0Artist"s}}), "Artist - Title"},
      {"Latin-1", Id3(3, 0, {{"TPE1", "\0Bj\xF6rk"s}, {"TIT2", "\0J\xF3ga"s}}), "Björk - Jóga"},
      {"GBK where Latin-1 belongs", Id3(3, 0, {{"TIT2", "\0\xD6\xD0\xCE\xC4"s}}), ""},
      {"UTF-16BE", Id3(4, 0, {{"TIT2", "\x02\0H\0i"s}}), "Hi"},
      {"UTF-8 with two values",
       Id3(4, 0,
           {{"TIT2",
             "\x03"
             "Gr\xC3\xBC\xC3\x9F"
             "e\0Other"s}}),
       "Grüße"},
      {"UTF-16 without a byte order mark", Id3(3, 0, {{"TIT2", "\x01H\0i\0"s}}), ""},
      {"UTF-8 that is none", Id3(4, 0, {{"TIT2", "\x03\xC3("s}}), ""},
      // 0xFF 0x00 stands for 0xFF: "ÿ" in Latin-1.
      // (2.3 counts a frame's bytes before the tag is unsynchronised, 2.4 after.)
      {"an unsynchronised 2.3 tag", "ID3\x03\0\x80\0\0\0\x0ETIT2\0\0\0\x03\0\0\0A\xFF\0"s, "Aÿ"},
      {"an unsynchronised 2.4 frame", Id3(4, 0x80, {{"TIT2", "\0A\xFF\0"s}}), "Aÿ"},
      {"a 2.3 extended header", Id3(3, 0x40, {{"TIT2", "\0T"s}}, "\0\0\0\x06\0\0\0\0\0\0"s), "T"},
      {"a 2.4 extended header", Id3(4, 0x40, {{"TIT2", "\0T"s}}, "\0\0\0\x06\x01\0"s), "T"},
      {"an artist alone", Id3(3, 0, {{"TPE1", "\0Someone"s}}), ""},
      {"a blank title", Id3(3, 0, {{"TPE1", "\0Someone"s}, {"TIT2", "\0  "s}}), ""},
      {"a compressed title", Id3(4, 0, {{"TIT2", "\0T"s}}).replace(19, 1, "\x08"), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(".mp3", c.tag + std::string(64, '\0')), c.name) << c.what;
}

// A PDF whose Info dictionary (object 1) holds `title` as written.
std::string PdfWithTitle(const std::string& title) {
  return "%PDF-1.4\n1 0 obj\n<< /Producer (x) /Title " + title +
         " >>\nendobj\n2 0 obj\n<< /Type /Catalog >>\nendobj\n" + "trailer\n<< /Root 2 0 R /Info 1 0 R >>\n%%EOF\n";
}

TEST(ContentNameTest, ReadsEachKindOfPdfTextString) {
  const struct {
    const char* written;
    const char* name;
  } cases[] = {
      {"(plain)", "plain"},
      {"(a \\(nested (pair)\\) \\\\ end)", "a (nested (pair)) end"},
      {"(octal \\101\\60\\0601)", "octal A001"},
      {"(split \\\nline)", "split line"},
      {"<4869 21>", "Hi!"},
      {"<48 6>", "H`"},  // an odd last digit is followed by 0
      {"(\\200 PDFDoc \\240)", "• PDFDoc €"},
      {"<FEFF00E9>", "é"},
      {"<FEFFD800>", ""},  // a lone surrogate
      {"<EFBBBF C3A9>", "é"},
      {"(   )", ""},
      {"7 0 R", ""},  // no such object
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(".pdf", PdfWithTitle(c.written)), c.name) << c.written;
}

// A little-endian TIFF whose IFD0 holds DateTimeOriginal as written.
std::string TiffWithDate(const std::string& date) {
  std::string tiff =
      testing::Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x03, 0x90, 2, 0, 20, 0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0});
  return tiff + date + std::string(1, '\0');
}

TEST(ContentNameTest, TakesOnlyRealMomentsForDates) {
  const struct {
    const char* date;
    const char* name;
  } cases[] = {
      {"2020:02:29 23:59:59", "2020-02-29 23.59.59"},
      {"2019:02:29 12:00:00", ""},  // no leap year
      {"2019:04:31 12:00:00", ""},
      {"2019:13:01 12:00:00", ""},
      {"2019:12:01 24:00:00", ""},
      {"2019:12:01 12:60:00", ""},
      {"0000:00:00 00:00:00", ""},
      {"    :  :     :  :  ", ""},
      {"2019:12:01 12:00:0x", ""},
      {"2019-12-01T12:00:00", "2019-12-01 12.00.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(".tif", TiffWithDate(c.date)), c.name) << c.date;
}

// Metadata made to trap a reader: loops of offsets, lengths past the file,
// text that is no UTF-16. Each gives no name, and returns.
TEST(ContentNameTest, HostileMetadataGivesNoName) {
  using testing::Bytes;
  std::string ole(1536, '\0');
  ole.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
  ole[0x1E] = 9;                                 // 512-byte sectors
  ole[0x20] = 6;                                 // 64-byte mini sectors
  ole.replace(0x38, 4, Bytes({0, 0x10, 0, 0}));  // the mini stream cutoff, 4096
  ole.replace(0x30, 4, Bytes({0, 0, 0, 0}));     // the directory in sector 0 ...
  ole.replace(0x4C, 4, Bytes({1, 0, 0, 0}));     // the FAT in sector 1 ...
  ole[512 + 66] = 5;                             // (a root entry)
  ole.replace(1024, 4, Bytes({0, 0, 0, 0}));     // ... where sector 0 leads to itself
  const struct {
    const char* what;
    const char* extension;
    std::string bytes;
  } cases[] = {
      {"an IFD whose next IFD is itself", ".tif",
       Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 16, 0, 0, 0, 8, 0, 0, 0})},
      {"an Exif IFD that is IFD0", ".tif",
       Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x69, 0x87, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0})},
      {"a date past the file", ".tif",
       Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 3, 0x90, 2, 0, 20, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0})},
      {"an ID3 frame longer than its tag", ".mp3",
       std::string("ID3\x03\x00\x00\x00\x00\x00\x16TIT2\xFF\xFF\xFF\xF0\x00\x00\x00", 20) + std::string(12, 'x')},
      {"a lone UTF-16 surrogate", ".mp3",
       std::string("ID3\x03\x00\x00\x00\x00\x00\x11TIT2\x00\x00\x00\x07\x00\x00\x01\xFF\xFE\x00\xD8\x00\x00", 27)},
      {"a box of 2^64 bytes", ".mp4",
       Bytes({0, 0, 0, 1, 'm', 'o', 'o', 'v', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"a FLAC block past the file", ".flac", std::string("fLaC\x04\xFF\xFF\xFF", 8)},
      {"a compound file's directory chain that loops", ".doc", ole},
      {"a title in a character set not read", ".html",
       "<html><head><meta charset=\"gbk\"><title>\xD6\xD0\xCE\xC4</title></head><body></body></html>"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameOf(c.extension, c.bytes), "") << c.what;
}

TEST(SafeNameTest, MakesAnyTextANameEveryDestinationAccepts) {
  const struct {
    std::string raw;
    const char* safe;
  } cases[] = {
      {"Quarterly report", "Quarterly report"},
      {"  two\t\tspaces \r\n and\x01\x1f controls ", "two spaces and controls"},
      {"a\\b/c:d*e?f\"g<h>i|j", "a b c d e f g h i j"},
      {"AC/DC", "AC DC"},
      {"trailing dots...", "trailing dots"},
      {"...leading dots", "leading dots"},
      {". . .", ""},
      {"   ", ""},
      {"", ""},
      {"CON", "_CON"},
      {"nul.txt", "_nul.txt"},
      {"Com7", "_Com7"},
      {"lpt1 .doc", "_lpt1 .doc"},
      {"COM0", "COM0"},
      {"CONSOLE", "CONSOLE"},
      {"bad \xff\xfe utf-8", "bad \xEF\xBF\xBD\xEF\xBF\xBD utf-8"},
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"right\xE2\x80\xAEto left", "rightto left"},  // a direction override vanishes
      {"no\xC2\xA0"
       "break",
       "no break"},
      {"C1\xC2\x85line", "C1 line"},
      {"Grüße №1 東京", "Grüße №1 東京"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeName(c.raw), c.safe) << c.raw;
}

TEST(NameWithContentTest, PutsTheBaseInBracketsAndShortensOnlyTheContent) {
  EXPECT_EQ(NameWithContent("2019-07-14 15.30.12", "FILE0007"), "2019-07-14 15.30.12 (FILE0007)");
  EXPECT_EQ(NameWithContent("", "FILE0044"), "FILE0044");
  EXPECT_EQ(NameWithContent(" ?* ", "FILE0044"), "FILE0044");
  EXPECT_EQ(NameWithContent("a:b", "#12345"), "a b (#12345)");
  // Two-byte characters: the cut never splits one, and leaves no trailing space.
  std::string longTitle;
  for (int i = 0; i < 150; ++i) longTitle += "é";
  const std::string name = NameWithContent(longTitle + " tail", "FILE0031");
  EXPECT_LE(name.size(), kMaxNameBytes);
  EXPECT_EQ(name.substr(name.size() - 11), " (FILE0031)");
  EXPECT_EQ(SafeName(name), name);
  EXPECT_EQ((name.size() - 11) % 2, 0u) << name;
  EXPECT_GE(name.size(), kMaxNameBytes - 1);
  // A base that leaves no room keeps its whole self.
  const std::string base(kMaxNameBytes, 'B');
  EXPECT_EQ(NameWithContent("title", base), base);
}

}  // namespace
}  // namespace tessaro::names
