// The picture checkers on the cases the generic test of real files does not
// make: what lies inside a file (an EXIF thumbnail's own end of image), what a
// file keeps after its structure's end (further pictures, a Targa footer), and
// headers that lie.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Be;
using testing::Kind;
using testing::Le;
using testing::Patched;

// A JPEG with a segment of `marker` holding `body` right after its SOI.
std::string WithSegment(const std::string& jpeg, unsigned char marker, const std::string& body) {
  return jpeg.substr(0, 2) + '\xFF' + static_cast<char>(marker) + Be(body.size() + 2, 2) + body + jpeg.substr(2);
}

// A JPEG whose MPF index names `second`, stored right after it.
std::string WithFurtherPicture(const std::string& jpeg, const std::string& second) {
  // MP header at 2 + 4 + 4 ("MPF\0"): a little-endian IFD of one entry, the
  // MP entries (16 bytes each) after it.
  const std::uint32_t header = 10;
  const std::size_t segmentSize = 2 + 2 + 4 + 8 + 2 + 12 + 4 + 32;
  const std::uint32_t first = static_cast<std::uint32_t>(jpeg.size() + segmentSize);
  std::string body = std::string("MPF\0II*\0", 8) + Le(8) + std::string("\x01\x00\x02\xB0\x07\x00", 6) + Le(32) +
                     Le(8 + 2 + 12 + 4) + Le(0);
  body += Le(0) + Le(first) + Le(0) + Le(0);
  body += Le(0) + Le(second.size()) + Le(first - header) + Le(0);
  return WithSegment(jpeg, 0xE2, body) + second;
}

// Where a PSD's merged picture (its compression field) begins: after the
// header and three sections, each after its 32-bit length.
std::size_t PsdPicture(const std::string& psd) {
  std::size_t at = 26;
  for (int section = 0; section < 3; ++section) at += 4 + testing::BeAt(psd, at);
  return at;
}

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
  const std::size_t ifd = testing::LeAt(tif, 4, 2);
  const std::size_t entries = testing::LeAt(tif, ifd, 2);
  const std::string ppm = Kind("imagemagick.ppm");
  const std::string j2k = Kind("imagemagick.j2k");
  const std::string jp2 = Kind("imagemagick.jp2");
  const std::string emf = Kind("libreoffice.emf");
  const std::string psd = Kind("imagemagick.psd");
  const std::string gif = Kind("imagemagick-87a.gif");
  const std::string rle8 = Kind("imagemagick-rle8.bmp");
  const std::string dds = Kind("imagemagick.dds");
  // A JP2 of whole sectors: an XML box fills the rest of its second sector.
  const std::string filler =
      std::string("\0\0", 2) + Be(1024 - jp2.size(), 2) + "xml " + std::string(1024 - jp2.size() - 8, ' ');
  const std::string jp2Sectors = jp2 + filler;
  const std::string xmlBox = std::string("\0\0\0\x0Dxml <a/>\n", 13);

  testing::ExpectCases({
      {"EXIF thumbnail's end of image is not the end", "jpg", exif + std::string(512, '\0'), Verdict::kIntact, exif.size()},
      {"cut just after the thumbnail", "jpg", exif.substr(0, 10 + thumb.size()), Verdict::kTruncated},
      {"another JPEG right after", "jpg", padded + thumb, Verdict::kIntact, padded.size()},
      {"MPF further picture kept", "jpg", mpf + std::string(300, '\0'), Verdict::kIntact, mpf.size()},
      {"MPF further picture cut", "jpg", mpf.substr(0, mpf.size() - 100), Verdict::kTruncated, mpf.size()},
      {"motion photo's video", "jpg", motion, Verdict::kUnchecked},
      {"BMP size 0 in the header", "bmp", Patched(bmp, 2, Le(0)), Verdict::kIntact, 822},
      {"BMP size beyond the fragment", "bmp", Patched(bmp, 2, Le(900000)), Verdict::kTruncated, 900000},
      {"BMP with a byte after it in its sector", "bmp", bmp + "\n" + std::string(100, '\0'), Verdict::kUnchecked},
      {"Targa footer right after the pixels", "tga", tga + std::string(8, '\0') + footer, Verdict::kIntact, tga.size() + 26},
      {"Targa extension area and footer", "tga",
       tga + extension + Le(static_cast<std::uint32_t>(tga.size())) + Le(0) + footer + std::string(9, '\0'),
       Verdict::kIntact, tga.size() + 495 + 26},
      {"Targa extension area without footer", "tga", tga + extension, Verdict::kUnchecked},
      {"TIFF whose IFD chain loops", "tif", Patched(tif, ifd + 2 + 12 * entries, Le(static_cast<std::uint32_t>(ifd))),
       Verdict::kIntact, tif.size()},
      {"TIFF whose next IFD is beyond the fragment", "tif",
       Patched(tif, ifd + 2 + 12 * entries, Le(1000000)), Verdict::kTruncated},
      {"JPEG 2000 tile-part that runs to EOC", "j2k", Patched(j2k, j2k.find("\xFF\x90") + 6, Le(0)),
       Verdict::kIntact, j2k.size()},
      {"JP2 with a box after the codestream", "jp2", jp2 + xmlBox + std::string(100, '\0'), Verdict::kIntact,
       jp2.size() + xmlBox.size()},
      {"EMF whose header states a size its records do not reach", "emf",
       Patched(emf, 48, Le(static_cast<std::uint32_t>(emf.size() + 4))) + std::string(100, '\0'),
       Verdict::kDamaged},
      {"PPM stream of two pictures", "ppm", ppm + ppm, Verdict::kUnchecked},
      {"JP2 followed at once by another", "jp2", jp2Sectors + jp2, Verdict::kIntact, 1024},
      {"BMP run-length pixels without their end", "bmp", rle8.substr(0, rle8.size() - 2) + std::string(700, '\0'),
       Verdict::kTruncated, rle8.size()},
      // A second level, a quarter of the first, after the 128-byte header and it.
      {"DDS whose header names a level it lacks", "dds",
       Patched(Patched(dds, 8, Le(0x2100F)), 28, Le(2)), Verdict::kTruncated,
       dds.size() + (dds.size() - 128) / 4},
      // Headers and chains that cannot be.
      {"JPEG end of image before any scan", "jpg", jpeg.substr(0, 2) + "\xFF\xD9" + jpeg.substr(2), Verdict::kDamaged},
      {"JPEG with a second start of image", "jpg", jpeg.substr(0, 2) + jpeg, Verdict::kDamaged},
      {"JPEG whose further picture is not a JPEG", "jpg", WithFurtherPicture(jpeg, std::string(thumb.size(), 'x')),
       Verdict::kDamaged},
      {"GIF whose trailer begins an extension instead", "gif", gif.substr(0, gif.size() - 1) + "!" + std::string(600, '\0'),
       Verdict::kDamaged},
      {"GIF with a block of no kind", "gif", gif.substr(0, gif.size() - 1) + "\x01", Verdict::kDamaged},
      {"icon whose picture lies inside its directory", "ico", Patched(Kind("imagemagick.ico"), 18, Le(8)),
       Verdict::kDamaged},
      {"icon whose picture lies beyond the fragment", "ico", Patched(Kind("imagemagick.ico"), 14, Le(900000)),
       Verdict::kTruncated, 22 + 900000},
      {"Photoshop picture compressed without its size", "psd", Patched(psd, PsdPicture(psd), Be(2, 2)),
       Verdict::kUnchecked},
  });
}

}  // namespace
}  // namespace tessaro::formats
