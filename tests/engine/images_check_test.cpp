// The picture checkers on the cases the generic test of real files does not
// make: what lies inside a file (an EXIF thumbnail's own end of image), what a
// file keeps after its structure's end (further pictures, a Targa footer), and
// headers that lie.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/formats/format_row.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::ReadAll;
using testing::TempFolder;

using testing::Kind;

std::string Be16Bytes(std::size_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string Le32Bytes(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// A JPEG with a segment of `marker` holding `body` right after its SOI.
std::string WithSegment(const std::string& jpeg, unsigned char marker, const std::string& body) {
  return jpeg.substr(0, 2) + '\xFF' + static_cast<char>(marker) + Be16Bytes(body.size() + 2) + body + jpeg.substr(2);
}

// A JPEG whose MPF index names `second`, stored right after it.
std::string WithFurtherPicture(const std::string& jpeg, const std::string& second) {
  // MP header at 2 + 4 + 4 ("MPF\0"): a little-endian IFD of one entry, the
  // MP entries (16 bytes each) after it.
  const std::uint32_t header = 10;
  const std::size_t segmentSize = 2 + 2 + 4 + 8 + 2 + 12 + 4 + 32;
  const std::uint32_t first = static_cast<std::uint32_t>(jpeg.size() + segmentSize);
  std::string body = std::string("MPF\0II*\0", 8) + Le32Bytes(8) + std::string("\x01\x00\x02\xB0\x07\x00", 6) +
                     Le32Bytes(32) + Le32Bytes(8 + 2 + 12 + 4) + Le32Bytes(0);
  body += Le32Bytes(0) + Le32Bytes(first) + Le32Bytes(0) + Le32Bytes(0);
  body += Le32Bytes(0) + Le32Bytes(static_cast<std::uint32_t>(second.size())) + Le32Bytes(first - header) + Le32Bytes(0);
  return WithSegment(jpeg, 0xE2, body) + second;
}

std::string Patched(std::string bytes, std::size_t at, const std::string& with) { return bytes.replace(at, with.size(), with); }

CheckResult Check(TempFolder& folder, const std::string& extension, const std::string& bytes) {
  static int counter = 0;
  const std::string path = folder.Write("f" + std::to_string(counter++), bytes);
  bool readFailed = true;
  int error = 0;
  const CheckResult r = CheckFile(SystemPlatform(), path, extension, CheckOptions{}, readFailed, error);
  EXPECT_FALSE(readFailed);
  return r;
}

// The real files of tests/data/kinds whose extension the picture family checks.
std::vector<std::pair<std::string, std::string>> PictureFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds")) {
    const std::string extension = entry.path().extension().string().substr(1);
    // The pictures are the formats whose last sector must end in zeros.
    const FormatRow* row = FindEntry(extension);
    if (row != nullptr && row->endPolicy == EndPolicy::kLastSectorZeros) {
      files.emplace_back(extension, ReadAll(entry.path().string()));
    }
  }
  return files;
}

// Where a PSD's merged picture (its compression field) begins: after the
// header and three sections, each after its 32-bit length.
std::size_t PsdPicture(const std::string& psd) {
  std::size_t at = 26;
  for (int section = 0; section < 3; ++section) {
    std::size_t n = 0;
    for (int k = 0; k < 4; ++k) n = n << 8 | static_cast<unsigned char>(psd[at + k]);
    at += 4 + n;
  }
  return at;
}

struct Case {
  const char* what;
  const char* extension;
  std::string bytes;
  Verdict verdict;
  std::uint64_t length;  // when intact
};

TEST(ImageCheckTest, StructureNotMarkersFindsTheEnd) {
  const std::string jpeg = Kind("imagemagick.jpg");
  const std::string thumb = Kind("ffmpeg-mjpeg.jpg");
  const std::string exif = WithSegment(jpeg, 0xE1, std::string("Exif\0\0", 6) + thumb);
  // Padded with a comment so that it fills whole sectors, as a file followed
  // at once by another is on a disk.
  const std::string padded = WithSegment(jpeg, 0xFE, std::string(1024 - jpeg.size() - 4, 'c'));
  const std::string mpf = WithFurtherPicture(jpeg, thumb);
  const std::string motion = WithSegment(jpeg, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                                                          "<x GCamera:MotionPhoto=\"1\"/>");
  const std::string bmp = Kind("ffmpeg.bmp");  // 822 bytes, as its header says
  const std::string tga = Kind("imagemagick-24.tga");
  std::string extension(495, '\0');
  extension[0] = '\xEF';
  extension[1] = '\x01';
  const std::string footer = "TRUEVISION-XFILE." + std::string(1, '\0');
  const std::string tif = Kind("imagemagick-intel.tif");
  const std::size_t ifd = static_cast<unsigned char>(tif[4]) | static_cast<unsigned char>(tif[5]) << 8;
  const std::size_t entries = static_cast<unsigned char>(tif[ifd]) | static_cast<unsigned char>(tif[ifd + 1]) << 8;
  const std::string ppm = Kind("imagemagick.ppm");
  const std::string j2k = Kind("imagemagick.j2k");
  const std::string jp2 = Kind("imagemagick.jp2");
  const std::string emf = Kind("libreoffice.emf");
  const std::string psd = Kind("imagemagick.psd");
  const std::string gif = Kind("imagemagick-87a.gif");
  const std::string rle8 = Kind("imagemagick-rle8.bmp");
  const std::string dds = Kind("imagemagick.dds");
  // A JP2 of whole sectors: an XML box fills the rest of its second sector.
  const std::string filler = std::string("\0\0", 2) + Be16Bytes(1024 - jp2.size()) + "xml " + std::string(1024 - jp2.size() - 8, ' ');
  const std::string jp2Sectors = jp2 + filler;
  const std::string xmlBox = std::string("\0\0\0\x0Dxml <a/>\n", 13);

  const std::vector<Case> cases = {
      {"EXIF thumbnail's end of image is not the end", "jpg", exif + std::string(512, '\0'), Verdict::kIntact, exif.size()},
      {"cut just after the thumbnail", "jpg", exif.substr(0, 10 + thumb.size()), Verdict::kTruncated, 0},
      {"another JPEG right after", "jpg", padded + thumb, Verdict::kIntact, padded.size()},
      {"MPF further picture kept", "jpg", mpf + std::string(300, '\0'), Verdict::kIntact, mpf.size()},
      {"MPF further picture cut", "jpg", mpf.substr(0, mpf.size() - 100), Verdict::kTruncated, 0},
      {"motion photo's video", "jpg", motion, Verdict::kUnchecked, 0},
      {"BMP size 0 in the header", "bmp", Patched(bmp, 2, Le32Bytes(0)), Verdict::kIntact, 822},
      {"BMP size beyond the fragment", "bmp", Patched(bmp, 2, Le32Bytes(900000)), Verdict::kTruncated, 0},
      {"BMP with a byte after it in its sector", "bmp", bmp + "\n" + std::string(100, '\0'), Verdict::kUnchecked, 0},
      {"Targa footer right after the pixels", "tga", tga + std::string(8, '\0') + footer, Verdict::kIntact, tga.size() + 26},
      {"Targa extension area and footer", "tga",
       tga + extension + Le32Bytes(static_cast<std::uint32_t>(tga.size())) + Le32Bytes(0) + footer + std::string(9, '\0'),
       Verdict::kIntact, tga.size() + 495 + 26},
      {"Targa extension area without footer", "tga", tga + extension, Verdict::kUnchecked, 0},
      {"TIFF whose IFD chain loops", "tif", Patched(tif, ifd + 2 + 12 * entries, Le32Bytes(static_cast<std::uint32_t>(ifd))),
       Verdict::kIntact, tif.size()},
      {"TIFF whose next IFD is beyond the fragment", "tif",
       Patched(tif, ifd + 2 + 12 * entries, Le32Bytes(1000000)), Verdict::kTruncated, 0},
      {"JPEG 2000 tile-part that runs to EOC", "j2k", Patched(j2k, j2k.find("\xFF\x90") + 6, Le32Bytes(0)),
       Verdict::kIntact, j2k.size()},
      {"JP2 with a box after the codestream", "jp2", jp2 + xmlBox + std::string(100, '\0'), Verdict::kIntact,
       jp2.size() + xmlBox.size()},
      {"EMF whose header states a size its records do not reach", "emf",
       Patched(emf, 48, Le32Bytes(static_cast<std::uint32_t>(emf.size() + 4))) + std::string(100, '\0'),
       Verdict::kDamaged, 0},
      {"PPM stream of two pictures", "ppm", ppm + ppm, Verdict::kUnchecked, 0},
      {"JP2 followed at once by another", "jp2", jp2Sectors + jp2, Verdict::kIntact, 1024},
      {"BMP run-length pixels without their end", "bmp", rle8.substr(0, rle8.size() - 2) + std::string(700, '\0'),
       Verdict::kTruncated, 0},
      {"DDS whose header names a level it lacks", "dds",
       Patched(Patched(dds, 8, Le32Bytes(0x2100F)), 28, Le32Bytes(2)), Verdict::kTruncated, 0},
      // Headers and chains that cannot be.
      {"JPEG end of image before any scan", "jpg", jpeg.substr(0, 2) + "\xFF\xD9" + jpeg.substr(2), Verdict::kDamaged, 0},
      {"JPEG with a second start of image", "jpg", jpeg.substr(0, 2) + jpeg, Verdict::kDamaged, 0},
      {"JPEG whose further picture is not a JPEG", "jpg", WithFurtherPicture(jpeg, std::string(thumb.size(), 'x')),
       Verdict::kDamaged, 0},
      {"GIF whose trailer begins an extension instead", "gif", gif.substr(0, gif.size() - 1) + "!" + std::string(600, '\0'),
       Verdict::kDamaged, 0},
      {"GIF with a block of no kind", "gif", gif.substr(0, gif.size() - 1) + "\x01", Verdict::kDamaged, 0},
      {"icon whose picture lies inside its directory", "ico", Patched(Kind("imagemagick.ico"), 18, Le32Bytes(8)),
       Verdict::kDamaged, 0},
      {"icon whose picture lies beyond the fragment", "ico", Patched(Kind("imagemagick.ico"), 14, Le32Bytes(900000)),
       Verdict::kTruncated, 0},
      {"Photoshop picture compressed without its size", "psd", Patched(psd, PsdPicture(psd), Be16Bytes(2)),
       Verdict::kUnchecked, 0},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    const CheckResult r = Check(folder, c.extension, c.bytes);
    EXPECT_EQ(r.verdict, c.verdict) << c.what << ": " << VerdictName(r.verdict) << " (" << r.detail << ")";
    if (c.verdict == Verdict::kIntact) {
      EXPECT_EQ(r.length, c.length) << c.what;
    }
  }
}

// A fragment that breaks off anywhere inside a picture is never taken for the
// whole picture: not at a segment's, box's or table's end either.
TEST(ImageCheckTest, APictureCutAnywhereIsNeverIntact) {
  TempFolder folder;
  for (const auto& [extension, bytes] : PictureFiles()) {
    if (!FindEntry(extension)->knowsWhenCut) continue;
    for (std::size_t step = 1; step < 16; ++step) {
      const std::size_t cut = bytes.size() * step / 16;
      const CheckResult r = Check(folder, extension, bytes.substr(0, cut));
      EXPECT_NE(r.verdict, Verdict::kIntact) << extension << " " << bytes.size() << " bytes cut at " << cut << ": " << r.detail;
    }
  }
}

// Changed header bytes (lengths, counts, offsets) end in a verdict, never in
// an end beyond the fragment.
TEST(ImageCheckTest, ChangedHeadersNeverGiveAnEndBeyondTheFragment) {
  TempFolder folder;
  std::uint32_t seed = 5;
  for (const auto& [extension, bytes] : PictureFiles()) {
    for (int round = 0; round < 20; ++round) {
      std::string changed = bytes;
      for (int k = 0; k < 4; ++k) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t at = (seed >> 8) % std::min<std::size_t>(changed.size(), 128);
        changed[at] = static_cast<char>(seed >> 24);
      }
      const CheckResult r = Check(folder, extension, changed);
      if (r.verdict == Verdict::kIntact) {
        EXPECT_LE(r.length, changed.size()) << extension;
      }
    }
  }
}

}  // namespace
}  // namespace tessaro::formats
