// The shipped catalogue against real files: every file of tests/data/kinds
// (made by real programs, see tests/data/make-kinds.sh) gets the extension its
// name ends in, every kind is proven by at least one of them, random data is
// no kind, and cluster slack after a file does not change its kind, text's
// included.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr std::uint64_t kCluster = 4096;

struct RealFile {
  std::string path;
  std::string name;
  std::string expected;  // ".ext", from the name
};

std::vector<RealFile> RealFiles() {
  std::vector<RealFile> files;
  const fs::path folder = fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds";
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    files.push_back(RealFile{entry.path().string(), name, name.substr(dot)});
  }
  std::sort(files.begin(), files.end(), [](const RealFile& a, const RealFile& b) { return a.name < b.name; });
  return files;
}

std::string Describe(const FileTypeRecord* kind) {
  if (kind == nullptr) return "no kind";
  return kind->NameOrEmpty() + " (" + kind->ExtensionOrEmpty() + ")";
}

class ShippedCatalogueTest : public ::testing::Test {
 protected:
  ShippedCatalogueTest() : engine_(testing::SharedCatalogue()) {}
  FragmentEngine engine_;
};

TEST_F(ShippedCatalogueTest, LoadsWithAtLeastEightyKinds) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  EXPECT_GE(engine_.kindCount, 80);
}

TEST_F(ShippedCatalogueTest, EveryRealFileGetsItsExtension) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  const auto files = RealFiles();
  ASSERT_GE(files.size(), 100u);
  for (const RealFile& file : files) {
    const FileTypeRecord* kind = engine_.IdentifyFile(file.path.c_str());
    EXPECT_TRUE(kind != nullptr && kind->ExtensionOrEmpty() == file.expected)
        << file.name << ": " << Describe(kind);
  }
}

TEST_F(ShippedCatalogueTest, EveryKindIsProvenOnARealFile) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  std::set<const FileTypeRecord*> seen;
  bool textSeen = false;
  for (const RealFile& file : RealFiles()) {
    const FileTypeRecord* kind = engine_.IdentifyFile(file.path.c_str());
    if (kind == &engine_.textKind) textSeen = true;
    seen.insert(kind);
  }
  for (int i = 0; i < engine_.kindCount; ++i) {
    const FileTypeRecord* kind = engine_.kinds[static_cast<std::size_t>(i)];
    if (kind->signatures.empty()) {
      // The one row without signatures counts what the built-in text kind
      // finds: it must carry that kind's extension, and a real text file must
      // come back as that kind.
      EXPECT_EQ(kind->ExtensionOrEmpty(), engine_.textKind.ExtensionOrEmpty()) << Describe(kind);
      EXPECT_TRUE(textSeen) << "no real text file";
      continue;
    }
    EXPECT_TRUE(seen.count(kind)) << "no real file of " << Describe(kind);
  }
}

TEST_F(ShippedCatalogueTest, RandomDataIsNoKind) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  TempFolder folder;
  // Sizes around the offsets the catalogue looks at (the head, the tar and
  // transport stream headers, the ISO volume descriptor at 32769), and long
  // enough that random bytes cannot pass the text test (226 of 256 byte values
  // are text; 300 such bytes in a row happen once in 10^16).
  const std::vector<std::size_t> sizes = {300, 511, 565, 1024, 4095, 4096, 4097, 8192, 32774, 40000, 300000};
  int made = 0;
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    for (std::size_t size : sizes) {
      const std::string path = folder.Write(testing::NumberedName("r", made++), testing::RandomBytes(size, seed * 7919u + static_cast<std::uint32_t>(size)));
      const FileTypeRecord* kind = engine_.IdentifyFile(path.c_str());
      EXPECT_EQ(kind, nullptr) << size << " random bytes (seed " << seed << ") taken for " << Describe(kind);
    }
  }
}

TEST_F(ShippedCatalogueTest, ClusterSlackKeepsTheKind) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  TempFolder folder;
  std::uint32_t seed = 99;
  for (const RealFile& file : RealFiles()) {
    const FileTypeRecord* plain = engine_.IdentifyFile(file.path.c_str());
    // As a disk leaves it: zeros to the end of the file's last sector, then
    // zeros or older data to the end of the cluster.
    const std::string bytes = testing::ReadAll(file.path);
    const std::uint64_t rest = kCluster - bytes.size() % kCluster;
    const std::uint64_t sectorRest = (512 - bytes.size() % 512) % 512;
    const std::string zeros = folder.Write(file.name + ".zeros", bytes + std::string(rest, '\0'));
    const std::string junk = folder.Write(file.name + ".junk", bytes + std::string(sectorRest, '\0') +
                                                                   testing::RandomBytes(rest - sectorRest + kCluster, seed++));
    EXPECT_EQ(engine_.IdentifyFile(zeros.c_str()), plain) << file.name << " with zeros: "
                                                           << Describe(engine_.IdentifyFile(zeros.c_str()));
    EXPECT_EQ(engine_.IdentifyFile(junk.c_str()), plain) << file.name << " with junk: "
                                                          << Describe(engine_.IdentifyFile(junk.c_str()));
  }
}

// AAC in ADTS has only its sync word as fixed bytes: the kind is given where
// the frame headers after it agree, and a file of a frame or two where what
// follows its last frame is slack.
TEST_F(ShippedCatalogueTest, AdtsIsToldByFramesThatAgree) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  const std::string aac = testing::Kind("ffmpeg-adts.aac"), crc = testing::Kind("handmade-crc.aac");
  auto frameLength = [](const std::string& bytes, std::size_t at) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    return static_cast<std::size_t>((b(3) & 3) << 11 | b(4) << 3 | b(5) >> 5);
  };
  const std::size_t first = frameLength(aac, 0), two = first + frameLength(aac, first);
  std::string otherRate = aac;
  otherRate[first + 2] = static_cast<char>(otherRate[first + 2] ^ 0x04);  // the second header's sample rate
  struct Case {
    const char* name;
    std::string bytes;
    const char* extension;  // "" for no kind
  } cases[] = {
      {"one frame, zeros to the sector's end", aac.substr(0, first) + std::string(512 - first, '\0'), ".aac"},
      {"two frames, cut inside the third", aac.substr(0, two + 20), ".aac"},
      {"a file with a CRC, then another", crc + aac, ".aac"},
      {"one frame, then other data", aac.substr(0, first) + testing::RandomBytes(4000, 5), ""},
      {"a header, then other data", aac.substr(0, 7) + testing::RandomBytes(4000, 6), ""},
      {"cut inside the first frame", aac.substr(0, first - 1), ""},
      {"a second header of another sample rate", otherRate, ""},
  };
  TempFolder folder;
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = folder.Write(testing::NumberedName("adts", n++), c.bytes);
    const FileTypeRecord* kind = engine_.IdentifyFile(path.c_str());
    EXPECT_EQ(kind == nullptr ? std::string() : kind->ExtensionOrEmpty(), c.extension) << c.name << ": " << Describe(kind);
  }
}

// Containers are told by what their own directory says, not by names that
// occur somewhere in the fragment: the slack after a presentation, an archive
// or a TIFF may hold the leftovers of a Word document's directory, of a
// package's parts or of a camera's raw (a test of every real compound file,
// ZIP and TIFF whose directory is whole in it).
TEST_F(ShippedCatalogueTest, LeftoversOfAnotherFileKeepTheKindOfAContainer) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  TempFolder folder;
  std::string leftovers;
  for (const char16_t* name : {u"WordDocument", u"PowerPoint Document", u"Workbook", u"VisioDocument",
                               u"__substg1.0_0037001F"}) {
    for (const char16_t* c = name; *c != 0; ++c) leftovers += {static_cast<char>(*c), '\0'};
    leftovers += std::string(8, '\0');
  }
  for (const char* name : {"[Content_Types].xml", "word/document.xml", "xl/workbook.xml", "xl/workbook.bin",
                           "ppt/presentation.xml", "visio/document.xml", "FixedDocumentSequence.fdseq"}) {
    leftovers += std::string("PK\x03\x04") + name;
  }
  // A DNG's DNGVersion entry in either byte order, and the cameras' names.
  leftovers += std::string("\x12\xC6\x01\x00\x04\x00\x00\x00\xC6\x12\x00\x01\x00\x00\x00\x04", 16);
  leftovers += "NIKON CORPORATION SONY Canon";
  // The boxes that hold an AVIF's and a HEIC's coding.
  leftovers += std::string("\0\0\0\x10" "av1C" "\0\0\0\0" "\0\0\0\x10" "hvcC" "\0\0\0\0", 24);
  for (const RealFile& file : RealFiles()) {
    const std::string bytes = testing::ReadAll(file.path);
    const bool container = bytes.rfind("PK\x03\x04", 0) == 0 || bytes.rfind("\xD0\xCF\x11\xE0", 0) == 0 ||
                           bytes.rfind(std::string("II*\0", 4), 0) == 0 || bytes.rfind(std::string("MM\0*", 4), 0) == 0 ||
                           (bytes.size() > 8 && bytes.compare(4, 4, "ftyp") == 0);
    if (!container || file.name.find("first-cluster") != std::string::npos) continue;
    const FileTypeRecord* plain = engine_.IdentifyFile(file.path.c_str());
    const std::string path = folder.Write(file.name + ".left", bytes + std::string((512 - bytes.size() % 512) % 512, '\0') +
                                                                 leftovers + std::string(2048 - leftovers.size(), '\0'));
    EXPECT_EQ(engine_.IdentifyFile(path.c_str()), plain) << file.name << ": "
                                                          << Describe(engine_.IdentifyFile(path.c_str()));
  }
}

// A text file ends where its last sector's zero fill begins: the leftovers
// of a page, a picture or a mail after that, with their "<html", "<svg" or
// "Subject: ", do not make a file of a text kind another (a test of every
// real file that begins with text and holds no zero byte).
TEST_F(ShippedCatalogueTest, LeftoversOfAnotherFileKeepTheKindOfAText) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  TempFolder folder;
  const std::string leftovers = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><svg xmlns=\"http://www.w3.org/2000/svg\">"
                                "\r\nSubject: old\r\nDate: old\r\n<html>";
  int texts = 0;
  for (const RealFile& file : RealFiles()) {
    const std::string bytes = testing::ReadAll(file.path);
    if (bytes.find('\0') != std::string::npos || bytes.size() < 6 ||
        !std::all_of(bytes.begin(), bytes.begin() + 6, [](char c) { return c >= 0x20 && c < 0x7F; })) {
      continue;
    }
    ++texts;
    const FileTypeRecord* plain = engine_.IdentifyFile(file.path.c_str());
    const std::string path = folder.Write(file.name + ".left", bytes + std::string(512 - bytes.size() % 512, '\0') +
                                                                 leftovers + std::string(2048 - leftovers.size(), '\0'));
    EXPECT_EQ(engine_.IdentifyFile(path.c_str()), plain) << file.name << ": "
                                                          << Describe(engine_.IdentifyFile(path.c_str()));
  }
  EXPECT_GE(texts, 10);
}

// A truncated fragment (the disk check found only its first clusters) keeps
// its kind as long as the signatures are inside what is left: the first
// cluster alone must do for every kind whose signatures lie in it.
TEST_F(ShippedCatalogueTest, FirstClusterAloneKeepsTheKind) {
  ASSERT_TRUE(engine_.ready) << engine_.lastError;
  TempFolder folder;
  for (const RealFile& file : RealFiles()) {
    const std::string bytes = testing::ReadAll(file.path);
    if (bytes.size() <= kCluster) continue;
    const FileTypeRecord* plain = engine_.IdentifyFile(file.path.c_str());
    if (plain == nullptr || !plain->addons.empty()) continue;  // content may lie further on
    bool inside = true;
    for (std::size_t k = 0; k < plain->offsets.size(); ++k) {
      if (plain->offsets[k] + plain->signatureBytes[k].size() > kCluster) inside = false;
    }
    if (!inside) continue;
    const std::string head = folder.Write(file.name + ".head", bytes.substr(0, kCluster));
    EXPECT_EQ(engine_.IdentifyFile(head.c_str()), plain) << file.name << ": "
                                                          << Describe(engine_.IdentifyFile(head.c_str()));
  }
}

}  // namespace
}  // namespace tessaro
