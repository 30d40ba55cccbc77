// Raw audio streams of sync frames, each header giving its frame's length:
// AC-3 and E-AC-3 (whose frames end with a CRC over all but the sync word)
// and AAC in ADTS. Nothing counts the frames, so the stream ends where what
// follows is surely no frame of it.

#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// The frame at `h` (its first 6 bytes): its length in bytes, 0 when no frame;
// `key` what every frame of one stream shares.
std::uint32_t Ac3FrameLength(const unsigned char* h, unsigned& key) {
  if (h[0] != 0x0B || h[1] != 0x77) return 0;
  const unsigned bsid = h[5] >> 3;
  const unsigned fscod = h[4] >> 6;
  if (bsid <= 10) {
    static const std::uint32_t kRates[3] = {48000, 44100, 32000};
    static const std::uint32_t kBitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                192, 224, 256, 320, 384, 448, 512, 576, 640};
    const unsigned code = h[4] & 0x3F;
    if (fscod == 3 || code >= 38) return 0;
    std::uint32_t words = kBitrates[code / 2] * 1000 * 1536 / (kRates[fscod] * 16);
    if (fscod == 1) words += code & 1;
    key = bsid << 8 | fscod;
    return words * 2;
  }
  if (bsid <= 16) {
    key = 0x1000 | fscod;
    return ((static_cast<std::uint32_t>(h[2] & 7) << 8 | h[3]) + 1) * 2;
  }
  return 0;
}

std::uint32_t AdtsFrameLength(const unsigned char* h, unsigned& key) {
  if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0 || ((h[2] >> 2) & 15) >= 13) return 0;
  const std::uint32_t length = static_cast<std::uint32_t>(h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
  key = static_cast<unsigned>(h[1] & 0xF9) << 16 | static_cast<unsigned>(h[2] & 0xFD) << 8 | (h[3] >> 6);
  return length >= ((h[1] & 1) != 0 ? 7u : 9u) ? length : 0;
}

using FrameLength = std::uint32_t (*)(const unsigned char* h, unsigned& key);

CheckResult WalkFrames(Fragment& f, FrameLength frameLength, bool crc) {
  std::uint64_t at = 0;
  std::uint64_t frames = 0;
  unsigned firstKey = 0;
  unsigned char buffer[4096];
  for (;;) {
    unsigned char h[6];
    if (!f.Read(at, h, sizeof h)) {
      if (frames > 0 && (at == f.Size() || ZeroBytes(f, at, static_cast<std::size_t>(f.Size() - at)))) break;
      return Truncated(kUnknown, "ends inside the header of frame " + std::to_string(frames + 1));
    }
    unsigned key = 0;
    const std::uint32_t length = frameLength(h, key);
    if (length == 0 || (frames > 0 && key != firstKey)) {
      if (frames == 0) return Damaged("no frame at the start");
      break;
    }
    firstKey = key;
    if (!f.Holds(at, length)) return Truncated(kUnknown, "ends inside frame " + std::to_string(frames + 1));
    if (crc) {
      // The CRC over the frame after its sync word comes out zero.
      std::uint16_t sum = 0;
      for (std::uint32_t done = 2; done < length;) {
        const std::size_t n = length - done < sizeof buffer ? length - done : sizeof buffer;
        if (!f.Read(at + done, buffer, n)) return Unchecked("a read failed");
        sum = Crc16(sum, buffer, n);
        done += static_cast<std::uint32_t>(n);
      }
      if (sum != 0) return Damaged("the CRC of frame " + std::to_string(frames + 1) + " does not match");
    }
    at += length;
    ++frames;
  }
  return EndOfUncountedChain(f, at, std::to_string(frames) + (crc ? " frames, every CRC right" : " frames"), nullptr);
}

}  // namespace

CheckResult CheckAc3(Fragment& f, const CheckOptions&) { return WalkFrames(f, Ac3FrameLength, true); }

CheckResult CheckAdts(Fragment& f, const CheckOptions&) { return WalkFrames(f, AdtsFrameLength, false); }

// Encoders differ in everything after the sync word that a fixed byte could
// name: MPEG-2 or MPEG-4, a CRC or none, any buffer fullness. What they share
// is a chain of headers that agree, each where the one before says it ends;
// in random data two bytes match once in 65,536, three agreeing headers
// practically never. A file of a frame or two is told too when its last frame
// ends where the fragment does, or on a sector's end, or zeros follow it to
// one, and a fragment cut short is told once its second header agrees.
bool StartsAdts(Fragment& f) {
  constexpr int kHeadersToAgree = 3;
  std::uint64_t at = 0;
  unsigned firstKey = 0;
  for (int headers = 0; headers < kHeadersToAgree; ++headers) {
    unsigned char h[6];
    unsigned key = 0;
    const std::uint32_t length = f.Read(at, h, sizeof h) ? AdtsFrameLength(h, key) : 0;
    if (length == 0 || (headers > 0 && key != firstKey)) {
      return headers > 0 && (at % kSectorSize == 0 || ZerosToSectorEnd(f, at));
    }
    firstKey = key;
    if (!f.Holds(at, length)) return headers > 0;
    at += length;
  }
  return true;
}

extern const FormatRow kAdtsRow{.extensions = {"aac"}, .checker = CheckAdts, .startTest = StartsAdts, .knowsWhenCut = false};
extern const FormatRow kAc3Row{
    .extensions = {"ac3"},
    .checker = CheckAc3,
    .knowsWhenCut = false,
    .checksEveryByte = true
};

}  // namespace tessaro::formats
