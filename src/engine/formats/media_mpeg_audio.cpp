// MPEG audio (MP3, MP2): ID3v2 tags at the start, then frames whose headers
// give their lengths, then optional APEv2 and ID3v1 tags. The frames carry no
// count of their own, and another MP3 in the slack would continue the chain,
// so a Xing/Info frame's byte count, when there is one, says where the frames
// must end; without it the chain must stop at what is certainly no frame.

#include <cstring>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

struct FrameHeader {
  bool valid = false;
  unsigned key = 0;  // version, layer and sample rate: the same in every frame of a stream
  std::uint32_t length = 0;
  std::uint32_t xingOffset = 0;  // where a Xing/Info header would sit
};

FrameHeader ParseFrameHeader(const unsigned char* h) {
  FrameHeader frame;
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return frame;
  const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = 4 - ((h[1] >> 1) & 3);
  const int bitrateIndex = h[2] >> 4;
  const int rateIndex = (h[2] >> 2) & 3;
  // Free-format bitrates give no length, so they count as no frame here.
  if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return frame;
  static const int kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2/2.5 layer I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2/2.5 layers II, III
  };
  static const int kRates[3] = {44100, 48000, 32000};
  const bool mpeg1 = version == 3;
  const int row = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
  const std::uint32_t bitrate = static_cast<std::uint32_t>(kBitrates[row][bitrateIndex]) * 1000;
  const std::uint32_t rate = static_cast<std::uint32_t>(kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2));
  const std::uint32_t padding = (h[2] >> 1) & 1;
  if (layer == 1) {
    frame.length = (12 * bitrate / rate + padding) * 4;
  } else {
    frame.length = (layer == 3 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
  }
  const bool mono = (h[3] >> 6) == 3;
  frame.xingOffset = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  frame.key = static_cast<unsigned>(h[1] & 0xFE) << 8 | (h[2] & 0x0C);
  frame.valid = frame.length >= 4;
  return frame;
}

// The byte count of a Xing/Info header in the first frame (from the first
// frame's start to the last frame's end), or kUnknown.
std::uint64_t XingByteCount(Fragment& f, std::uint64_t frameStart, const FrameHeader& first) {
  unsigned char tag[16];
  if (first.xingOffset + 16 > first.length || !f.Read(frameStart + first.xingOffset, tag, sizeof tag)) return kUnknown;
  if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0) return kUnknown;
  const std::uint32_t flags = Be32(tag + 4);
  if ((flags & 2) == 0) return kUnknown;
  return Be32(tag + ((flags & 1) != 0 ? 12 : 8));
}

}  // namespace

CheckResult CheckMpegAudio(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  int tags = 0;
  if (!SkipId3v2(f, at, tags)) return Damaged("a broken ID3v2 header at " + std::to_string(at));
  // Some writers pad the ID3v2 tag beyond its declared size with zeros.
  if (tags > 0) {
    for (std::uint64_t limit = at + 65536; at < limit && at < f.Size() && ZeroBytes(f, at, 1);) ++at;
  }
  const std::uint64_t audio = at;
  unsigned char h[4];
  if (!f.Read(at, h, 4)) return Truncated(kUnknown, "ends before the first frame");
  const FrameHeader first = ParseFrameHeader(h);
  if (!first.valid) return Damaged("no MPEG audio frame at " + std::to_string(at));
  const std::uint64_t xingBytes = XingByteCount(f, at, first);
  const std::uint64_t declared = xingBytes == kUnknown ? kUnknown : audio + xingBytes;
  std::uint64_t frames = 0;
  FrameHeader frame = first;
  for (;;) {
    if (!f.Holds(at, frame.length)) {
      return Truncated(declared, "ends inside frame " + std::to_string(frames + 1) + " at " + std::to_string(at));
    }
    at += frame.length;
    ++frames;
    if (declared != kUnknown && at >= declared) break;
    if (!f.Read(at, h, 4)) break;
    frame = ParseFrameHeader(h);
    if (!frame.valid || frame.key != first.key) break;
  }
  const std::string counted = std::to_string(frames) + " frames";
  const std::uint64_t end = SkipTrailingTags(f, at);
  if (declared != kUnknown) {
    if (at == declared || end == declared) return Intact(end, counted + " fill the Xing/Info byte count");
    if (at > declared) return Unchecked("the Xing/Info byte count ends inside frame " + std::to_string(frames));
    if (declared > f.Size()) return Truncated(declared, "expected " + std::to_string(declared) + " bytes");
    return Damaged("the frames stop at " + std::to_string(at) + ", the Xing/Info byte count at " +
                   std::to_string(declared));
  }
  return EndOfUncountedChain(f, end, counted, "ID3");
}

extern const FormatRow kMp2Row{.extensions = {"mp2"}, .checker = CheckMpegAudio, .knowsWhenCut = false};
extern const FormatRow kMp3Row{
    .extensions = {"mp3"},
    .checker = CheckMpegAudio,
    .nameReader = names::Id3Name,
    .nameReaderUsesCheck = true,
    .knowsWhenCut = false
};

}  // namespace tessaro::formats
