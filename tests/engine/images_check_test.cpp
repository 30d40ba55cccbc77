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

// imagemagick-intel.tif laid out again as a writer that aligns to `align`
// bytes does: the header, its IFD, the values that do not fit in their
// entries each at the next multiple of `align`, then its strip (389 bytes, an
// odd count) last, and zeros to the next multiple of `align`. `end` is where
// the strip ends.
std::string RealignedTiff(std::size_t align, std::size_t& end) {
  const std::string tif = Kind("imagemagick-intel.tif");
  const std::size_t ifd = testing::LeAt(tif, 4);
  const std::size_t entries = testing::LeAt(tif, ifd, 2);
  const std::size_t ifdSize = 2 + 12 * entries + 4;
  std::string out = tif.substr(0, 4) + Le(8) + tif.substr(ifd, ifdSize - 4) + Le(0);
  const auto pad = [&out](std::size_t to) { out.resize((out.size() + to - 1) / to * to, '\0'); };
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t entry = 8 + 2 + 12 * i;
    const std::size_t tag = testing::LeAt(out, entry, 2);
    const std::size_t type = testing::LeAt(out, entry + 2, 2);
    const std::size_t bytes = testing::LeAt(out, entry + 4) * (type == 3 ? 2 : type == 5 ? 8 : 4);
    if (tag == 273 || bytes <= 4) continue;
    pad(align);
    const std::size_t from = testing::LeAt(out, entry + 8);
    out = Patched(out, entry + 8, Le(out.size())) + tif.substr(from, bytes);
  }
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t entry = 8 + 2 + 12 * i;
    if (testing::LeAt(out, entry, 2) != 273) continue;
    pad(align);
    const std::size_t from = testing::LeAt(out, entry + 8);
    out = Patched(out, entry + 8, Le(out.size())) + tif.substr(from, 389);
  }
  end = out.size();
  pad(align);
  return out;
}

// A JPEG with a Samsung trailer after its end of image: blocks (two zero
// bytes, the type, the name's length and the name, then the data), the SEFH
// directory that points back at each from its own start, the directory's
// size and "SEFT" last.
std::string WithSamsungTrailer(const std::string& jpeg, const std::string& video) {
  const std::string blocks[2] = {std::string("\0\0\x30\x0A", 4) + Le(16) + "MotionPhoto_Data" + video,
                                 std::string("\0\0\x01\x0A", 4) + Le(14) + "Image_UTC_Data" + "1700000000000"};
  std::string out = jpeg;
  std::size_t starts[2];
  for (int i = 0; i < 2; ++i) {
    starts[i] = out.size();
    out += blocks[i];
  }
  const std::size_t directory = out.size();
  out += "SEFH" + Le(106) + Le(2);
  for (int i = 0; i < 2; ++i) out += blocks[i].substr(0, 4) + Le(directory - starts[i]) + Le(blocks[i].size());
  return out + Le(out.size() - directory) + "SEFT";
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
  std::size_t evenEnd = 0;
  std::size_t fourEnd = 0;
  const std::string tifEven = RealignedTiff(2, evenEnd);
  const std::string tifFour = RealignedTiff(4, fourEnd);
  // A motion photo whose picture fills its sectors, so that its blocks begin
  // a sector; and one whose blocks follow in the picture's last sector.
  const std::string video = Kind("ffmpeg-h264.mp4");
  const std::string sectorPicture = WithSegment(jpeg, 0xFE, std::string(512 - jpeg.size() - 4, 'c'));
  const std::string samsung = WithSamsungTrailer(sectorPicture, video);
  const std::string samsungUnaligned = WithSamsungTrailer(jpeg, video);
  const std::string samsungXmp = WithSamsungTrailer(motion, video);
  const std::size_t directory = samsung.rfind("SEFH");

  testing::ExpectCases({
      {"EXIF thumbnail's end of image is not the end", "jpg", exif + std::string(512, '\0'), Verdict::kIntact, exif.size()},
      {"cut just after the thumbnail", "jpg", exif.substr(0, 10 + thumb.size()), Verdict::kTruncated},
      {"another JPEG right after", "jpg", padded + thumb, Verdict::kIntact, padded.size()},
      {"MPF further picture kept", "jpg", mpf + std::string(300, '\0'), Verdict::kIntact, mpf.size()},
      {"MPF further picture cut", "jpg", mpf.substr(0, mpf.size() - 100), Verdict::kTruncated, mpf.size()},
      {"motion photo's video", "jpg", motion, Verdict::kUnchecked},
      {"Samsung trailer from a sector's start", "jpg", samsung + std::string(300, '\0'), Verdict::kIntact, samsung.size()},
      {"Samsung trailer, then another JPEG", "jpg", testing::Sectors(samsung) + padded, Verdict::kIntact, samsung.size()},
      {"Samsung trailer in the picture's last sector", "jpg", samsungUnaligned + std::string(300, '\0'),
       Verdict::kIntact, samsungUnaligned.size()},
      {"Samsung trailer of a motion photo", "jpg", samsungXmp, Verdict::kIntact, samsungXmp.size()},
      {"Samsung trailer cut before SEFT", "jpg", samsung.substr(0, samsung.size() - 6), Verdict::kTruncated},
      {"Samsung trailer cut inside the video", "jpg", samsung.substr(0, 512 + 600), Verdict::kTruncated},
      {"Samsung directory pointing past its blocks", "jpg",
       Patched(samsung, directory + 16, Le(directory - 512 + 1)) + std::string(300, '\0'), Verdict::kTruncated},
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
      {"TIFF padded to an even size after its odd strip", "tif", tifEven + std::string(600, '\0'), Verdict::kIntact,
       tifEven.size()},
      {"TIFF padded to four bytes after its odd strip", "tif", tifFour + std::string(600, '\0'), Verdict::kIntact,
       tifFour.size()},
      {"TIFF whose fragment ends inside its padding", "tif", tifFour.substr(0, fourEnd + 1), Verdict::kIntact, fourEnd + 1},
      {"TIFF whose odd strip is followed by other bytes", "tif", tifEven.substr(0, evenEnd) + "x" + std::string(600, '\0'),
       Verdict::kUnchecked},
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
