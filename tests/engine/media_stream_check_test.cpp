// MPEG systems streams, AMR, VOC, RealMedia and EPS on what the generic test
// does not make: a second file of the same kind glued on with nothing
// between, heads that end on a packet boundary, structures whose lengths lie,
// and markers that belong to something embedded.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/check_kit.h"
#include "support/temp_folder.h"

namespace tessaro::formats {
namespace {

using testing::Kind;
using testing::Le;

// A DOS binary EPS: the header, then the sections in the order given.
std::string BinaryEps(const std::string& ps, const std::string& tiff, std::uint32_t psAt, std::uint32_t tiffAt) {
  std::string header = "\xC5\xD0\xD3\xC6" + Le(psAt) + Le(static_cast<std::uint32_t>(ps.size())) +
                       Le(0) + Le(0) + Le(tiffAt) +
                       Le(static_cast<std::uint32_t>(tiff.size())) + "\xFF\xFF";
  std::string file = header + std::string(std::max(psAt, tiffAt) - header.size(), '\0');
  file.resize(std::max<std::size_t>(psAt + ps.size(), tiffAt + tiff.size()));
  file.replace(psAt, ps.size(), ps);
  file.replace(tiffAt, tiff.size(), tiff);
  return file;
}

TEST(MediaStreamCheckTest, MpegStreamsEndWhereTheirOwnStructureDoes) {
  const std::string dvd = Kind("ffmpeg-dvd.mpg"), mpeg1 = Kind("ffmpeg-mpeg1.mpg");
  const std::string ts = Kind("ffmpeg.ts"), mts = Kind("ffmpeg.mts");
  const std::string endCode("\0\0\1\xB9", 4);
  testing::ExpectCases({
      {"the first end code, before another file's", "mpg", dvd + endCode + dvd + endCode, Verdict::kIntact, 4100},
      // Packs of the same version glued on: the clock goes back, which a DVD
      // cell does too, so the end is not sure; the far end is not given.
      {"another DVD file's packs straight after", "mpg", dvd + dvd + std::string(512, '\0'), Verdict::kUnchecked},
      {"packs to a sector's end", "mpg", dvd.substr(0, 2048), Verdict::kUnchecked},
      {"cut inside a packet", "mpg", dvd.substr(0, 3000), Verdict::kTruncated},
      {"no pack header", "mpg", ts, Verdict::kDamaged},
      {"packets to zeros", "mpg", mpeg1 + std::string(100, '\0'), Verdict::kIntact, 4096},
      // A stretch that is no stream, then far more than slack: the file goes on
      // past a damaged cluster, and is not cut there.
      {"a damaged stretch inside", "mpg", mpeg1 + std::string(512, '\xEE') + std::string(300000, '\x47'),
       Verdict::kUnchecked},
      // A transport stream glued to another breaks the continuity counters:
      // lost packets would too, so the end is unsure.
      {"another transport stream straight after", "ts", ts + ts + std::string(300, '\0'), Verdict::kUnchecked},
      {"packets to the fragment's end", "ts", ts.substr(0, 188 * 10), Verdict::kUnchecked},
      {"cut inside a packet", "ts", ts.substr(0, 188 * 10 + 50), Verdict::kTruncated},
      {"packets, then no sync", "ts", ts + "garbage that is no packet", Verdict::kIntact, ts.size()},
      {"a BDAV file after one that ends in mid-unit", "mts", mts.substr(0, 192 * 20) + mts, Verdict::kUnchecked},
      {"a BDAV file cut inside a packet", "mts", mts.substr(0, 1000), Verdict::kTruncated},
      // Longer than any slack after the restart: files joined end to end.
      {"BDAV files joined", "mts", [&] { std::string j; while (j.size() < 300000) j += mts; return j; }(),
       Verdict::kUnchecked},
  });
}

TEST(MediaStreamCheckTest, AmrFramesStopAtSlackNotAtEveryZero) {
  const std::string nb = Kind("handmade-nb.amr"), wb = Kind("handmade-wb.awb");
  // A 4.75 kbit/s frame marked bad: a zero header byte, yet speech bits.
  const std::string badFrame = std::string(1, '\0') + std::string(12, '\x5A');
  const std::string withBad = nb.substr(0, 6 + 32 * 3) + badFrame + nb.substr(6 + 32 * 3);
  testing::ExpectCases({
      {"another AMR file straight after", "amr", nb + nb, Verdict::kIntact, nb.size()},
      {"a bad frame inside is read on", "amr", withBad + std::string(700, '\0'), Verdict::kIntact, withBad.size()},
      {"frames, then unknown bytes", "amr", nb + std::string(20, '\xFF'), Verdict::kUnchecked},
      {"cut inside a frame", "amr", nb.substr(0, 100), Verdict::kTruncated},
      // Zeros with far more than slack after them are read on, as bad frames.
      {"a zeroed stretch inside", "amr", nb + std::string(13 * 40, '\0') + std::string(32 * 9375, '\x3C'),
       Verdict::kIntact, nb.size() + 13 * 40 + 32 * 9375},
      {"a wide-band file after a narrow-band one", "amr", nb + wb, Verdict::kIntact, nb.size()},
      {"a narrow-band header in a wide-band file", "awb", nb, Verdict::kDamaged},
  });
}

TEST(MediaStreamCheckTest, VocAndRealMediaFollowTheirLengths) {
  const std::string voc = Kind("sox.voc"), rm = Kind("ffmpeg.rm");
  // Creative's own layout: exact lengths, a second sound block, a terminator.
  std::string creative = voc.substr(0, 26) + std::string("\x01\x06\x00\x00\xA6\x00", 6) + "abcd" +
                         std::string("\x01\x04\x00\x00\xA6\x00", 6) + std::string(2, '\0') + std::string(1, '\0');
  const std::string badCheck = testing::Flipped(voc, 24, 1);
  const std::string farIndex = testing::Patched(rm, 18 + 38, "\x7F");  // PROP's index offset, far beyond the file
  testing::ExpectCases({
      {"another VOC straight after", "voc", voc + voc, Verdict::kIntact, voc.size()},
      {"exact block lengths, zeros inside a block", "voc", creative + std::string(600, '\0'), Verdict::kIntact,
       creative.size()},
      {"no terminator, then other bytes", "voc", creative.substr(0, creative.size() - 1) + "\xEE\xEE", Verdict::kUnchecked},
      {"a wrong version check", "voc", badCheck, Verdict::kDamaged},
      {"another RealMedia file straight after", "rm", rm + rm, Verdict::kIntact, rm.size()},
      {"cut inside the packets", "rm", rm.substr(0, 2000), Verdict::kTruncated},
      {"an index the fragment lacks", "rm", farIndex, Verdict::kTruncated},
  });
}

TEST(MediaStreamCheckTest, EpsEndsAtItsSectionsOrItsOwnEofLine) {
  const std::string ps = Kind("ghostscript.eps"), tiff = Kind("imagemagick-intel.tif");
  const std::string previewLast = BinaryEps(ps, tiff, 30, static_cast<std::uint32_t>(30 + ps.size()));
  const std::string previewFirst = BinaryEps(ps, tiff, static_cast<std::uint32_t>(30 + tiff.size()), 30);
  const std::string noPreviewMagic = BinaryEps(ps, std::string(64, 'x'), 30, static_cast<std::uint32_t>(30 + ps.size()));
  const std::string inner = "%!PS-Adobe-3.0 EPSF-3.0\n%%EOF\n";
  const std::string outer = "%!PS-Adobe-3.0 EPSF-3.0\n%%BeginDocument: inner.eps\n" + inner +
                            "%%EndDocument\n%%BeginBinary: 7\n\n%%EOF\n\nshowpage\n%%EOF\n";
  testing::ExpectCases({
      {"PostScript, then a TIFF preview", "eps", previewLast + std::string(300, '\0'), Verdict::kIntact,
       previewLast.size()},
      {"the preview first", "eps", previewFirst + previewFirst, Verdict::kIntact, previewFirst.size()},
      {"cut inside the preview", "eps", previewLast.substr(0, previewLast.size() - 10), Verdict::kTruncated,
       previewLast.size()},
      {"a preview that is no TIFF", "eps", noPreviewMagic, Verdict::kDamaged},
      {"another EPS straight after the text", "eps", ps + ps, Verdict::kIntact, ps.size()},
      {"an embedded file's and binary data's %%EOF", "eps", outer + std::string(100, '\0'), Verdict::kIntact,
       outer.size()},
      {"a Control-D after %%EOF", "eps", inner + "\x04" + std::string(100, '\0'), Verdict::kIntact, inner.size() + 1},
      {"more after %%EOF", "eps", inner + "showpage\n", Verdict::kUnchecked},
  });
}

}  // namespace
}  // namespace tessaro::formats
