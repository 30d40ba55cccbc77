// A fragment read as files back to back: real files laid out as a lost
// folder's clusters hold them, with the slack, junk and cut files a real
// rescue has between them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalog/fragment_engine.h"
#include "engine/split/fragment_split.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

namespace tessaro::split {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempFolder;

std::string Kind(const std::string& name) {
  return ReadAll(std::string(TESSARO_SOURCE_DIR) + "/tests/data/kinds/" + name);
}

// A tar archive of one member holding `data`, as POSIX tar writes it: the
// member's data begins on a 512-byte boundary of the archive.
std::string TarOf(const std::string& name, const std::string& data) {
  std::string header(512, '\0');
  header.replace(0, name.size(), name);
  header.replace(100, 7, "0000644");
  char size[13];
  std::snprintf(size, sizeof size, "%011o", static_cast<unsigned>(data.size()));
  header.replace(124, 11, size);
  header.replace(136, 11, "00000000000");
  header[156] = '0';
  header.replace(257, 6, std::string("ustar\0", 6));
  header.replace(263, 2, "00");
  header.replace(148, 8, "        ");
  unsigned sum = 0;
  for (unsigned char c : header) sum += c;
  char check[8];
  std::snprintf(check, sizeof check, "%06o", sum);
  header.replace(148, 7, std::string(check, 7));
  std::string tar = header + data;
  tar.resize((tar.size() + 511) / 512 * 512 + 1024, '\0');
  tar.resize((tar.size() + 10239) / 10240 * 10240, '\0');
  return tar;
}

struct Expected {
  std::uint64_t offset;
  std::string extension;
  std::uint64_t length;  // 0: not proven (the piece's extent)
};

struct Layout {
  std::string name;
  std::string bytes;
  std::vector<Expected> files;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> unclaimed;
};

// Appends `bytes` at the next multiple of `align`; returns where they begin.
std::uint64_t Place(std::string& fragment, const std::string& bytes, std::size_t align) {
  fragment.resize((fragment.size() + align - 1) / align * align, '\0');
  const std::uint64_t at = fragment.size();
  fragment += bytes;
  return at;
}

std::vector<Layout> Layouts() {
  std::vector<Layout> layouts;
  const std::string jpg = Kind("imagemagick.jpg"), png = Kind("ffmpeg.png"), pdf = Kind("ghostscript.pdf"),
                    zip = Kind("info-zip.zip"), mp3 = Kind("ffmpeg-id3.mp3"), gz = Kind("gzip.gz");
  for (std::size_t cluster : {512u, 32768u}) {
    // Whole files in clusters of their own, zeros after each.
    Layout l{"clusters of " + std::to_string(cluster), "", {}, {}};
    for (const auto& [bytes, extension] :
         std::vector<std::pair<std::string, std::string>>{{jpg, ".jpg"}, {png, ".png"}, {pdf, ".pdf"},
                                                          {zip, ".zip"}, {mp3, ".mp3"}, {gz, ".gz"}}) {
      l.files.push_back({Place(l.bytes, bytes, cluster), extension, bytes.size()});
    }
    l.bytes.resize((l.bytes.size() + cluster - 1) / cluster * cluster, '\0');
    layouts.push_back(l);
  }
  {
    // A tar whose member is a JPEG on a 512-byte boundary: the tar is proven
    // whole, so no start inside it is taken.
    Layout l{"a picture inside a proven archive", "", {}, {}};
    const std::string tar = TarOf("photo.jpg", jpg);
    l.files.push_back({Place(l.bytes, tar, 512), ".tar", tar.size()});
    l.files.push_back({Place(l.bytes, png, 512), ".png", png.size()});
    layouts.push_back(l);
  }
  {
    // Old data after a file's slack, then a file: found, and the old data
    // listed as bytes of no file.
    Layout l{"junk between two files", "", {}, {}};
    l.files.push_back({Place(l.bytes, png, 512), ".png", png.size()});
    std::string junk(1536, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7 + 1) | 1);
    const std::uint64_t junkAt = Place(l.bytes, std::string(1024, '\0') + junk, 512) + 1024;
    l.unclaimed.push_back({junkAt, junk.size()});
    l.files.push_back({Place(l.bytes, pdf, 512), ".pdf", pdf.size()});
    layouts.push_back(l);
  }
  {
    // A cut document (no end proven) and a whole file right after it: the
    // split falls where the second begins.
    Layout l{"a cut file, then a whole one", "", {}, {}};
    const std::string pptx = Kind("libreoffice-pptx.pptx");
    const std::string cut = pptx.substr(0, pptx.size() / 2 / 512 * 512);
    l.files.push_back({Place(l.bytes, cut, 512), ".pptx", 0});
    l.files.push_back({Place(l.bytes, pdf, 512), ".pdf", pdf.size()});
    layouts.push_back(l);
  }
  {
    // Bytes of no kind first (a lost folder's records, say), then files.
    std::string records;
    while (records.size() < 4096) records += std::string("\x85\x02\x3c\x71\x20\x00\x00\x00", 8);
    Layout l{"no kind at the start", records, {}, {{0, 4096}}};
    l.files.push_back({Place(l.bytes, gz, 512), ".gz", gz.size()});
    // Text after a sector of zeros (a cluster's slack) begins a file; old
    // data that reads as text right after a file's last sector does not.
    l.files.push_back({Place(l.bytes, "plain text after the slack of a proven file\n", 1024), ".txt", 44});
    layouts.push_back(l);
  }
  return layouts;
}

TEST(FragmentSplitTest, FindsEveryFileWhereItBeginsAndNothingInsideAProvenOne) {
  FragmentEngine engine(std::string(TESSARO_SOURCE_DIR) + "/resources/tessaro.cfg");
  ASSERT_TRUE(engine.ready) << engine.lastError;
  Platform& platform = SystemPlatform();
  TempFolder folder;
  for (const Layout& layout : Layouts()) {
    SCOPED_TRACE(layout.name);
    const std::string path = folder.Write("FILE0000000.CHK", layout.bytes);
    int error = 0;
    const FileHandle file = platform.OpenRead(path, error);
    ASSERT_NE(file, kNoFile);
    FragmentSplitter splitter(engine, platform, file, layout.bytes.size(), path.c_str(), {});
    std::vector<Piece> files, unclaimed;
    for (Piece piece; splitter.Next(piece);) (piece.role == Piece::Role::kFile ? files : unclaimed).push_back(piece);
    platform.Close(file);
    EXPECT_FALSE(splitter.Failed());
    ASSERT_EQ(files.size(), layout.files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const Expected& e = layout.files[i];
      SCOPED_TRACE(e.extension + " at " + std::to_string(e.offset));
      EXPECT_EQ(files[i].offset, e.offset);
      EXPECT_EQ(files[i].kind->ExtensionOrEmpty(), e.extension);
      const std::uint64_t next = i + 1 < files.size() ? files[i + 1].offset : layout.bytes.size();
      EXPECT_EQ(files[i].extent, next - files[i].offset) << "a file spans up to the next one";
      if (e.length != 0) {
        EXPECT_EQ(files[i].check.verdict, formats::Verdict::kIntact) << files[i].check.detail;
        EXPECT_EQ(files[i].length, e.length);
      } else {
        EXPECT_NE(files[i].check.verdict, formats::Verdict::kIntact);
        EXPECT_EQ(files[i].length, files[i].extent);
      }
    }
    ASSERT_EQ(unclaimed.size(), layout.unclaimed.size());
    for (std::size_t i = 0; i < unclaimed.size(); ++i) {
      EXPECT_EQ(unclaimed[i].offset, layout.unclaimed[i].first);
      EXPECT_EQ(unclaimed[i].extent, layout.unclaimed[i].second);
    }
  }
}

}  // namespace
}  // namespace tessaro::split
