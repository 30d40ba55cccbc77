// Lossless audio whose own counts give the end: WavPack (blocks, each giving
// its first sample and how many it holds, up to the total of samples), TTA
// (a seek table of every frame's size, under a CRC-32) and Monkey's Audio
// (a descriptor with the length of every part). Tags may follow.

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

CheckResult CheckWavPack(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  std::uint64_t position = 0;  // samples in the blocks so far
  std::uint64_t total = kUnknown;
  std::uint64_t blocks = 0;
  for (;;) {
    unsigned char h[32];
    if (!f.Read(at, h, sizeof h)) return Truncated(kUnknown, "ends inside the header of block " + std::to_string(blocks + 1));
    if (std::memcmp(h, "wvpk", 4) != 0) return Damaged("no block at " + std::to_string(at));
    const std::uint32_t size = Le32(h + 4);
    const std::uint64_t index = std::uint64_t{h[10]} << 32 | Le32(h + 16);
    const std::uint32_t samples = Le32(h + 20);
    const std::uint32_t flags = Le32(h + 24);
    if (blocks == 0) {
      if (Le32(h + 12) == 0xFFFFFFFFu) return Unchecked("the total of samples is not given");
      total = std::uint64_t{h[11]} << 32 | Le32(h + 12);
    }
    // The blocks of one moment (one per channel pair) share their index.
    if (index != position) return Damaged("block " + std::to_string(blocks + 1) + " does not follow on");
    if (size < 24 || size % 2 != 0) return Damaged("impossible size of block " + std::to_string(blocks + 1));
    if (!f.Holds(at, 8 + std::uint64_t{size})) return Truncated(kUnknown, "ends inside block " + std::to_string(blocks + 1));
    at += 8 + std::uint64_t{size};
    ++blocks;
    if ((flags & 0x1000) != 0) position += samples;  // the last block of the moment
    if (position > total) return Damaged("the blocks hold more samples than the total");
    if (position == total && (flags & 0x1000) != 0) break;
  }
  return EndOfCountedAudio(f, at, std::to_string(blocks) + " blocks hold the " + std::to_string(total) + " samples",
                           "wvpk");
}

CheckResult CheckTta(Fragment& f, const CheckOptions&) {
  std::uint64_t start = 0;
  int tags = 0;
  if (!SkipId3v2(f, start, tags)) return Damaged("a broken ID3v2 header");
  unsigned char h[22];
  if (!f.Read(start, h, sizeof h) || std::memcmp(h, "TTA1", 4) != 0) return Damaged("no TTA header");
  if (Crc32(0, h, 18) != Le32(h + 18)) return Damaged("the header's CRC does not match");
  const std::uint32_t rate = Le32(h + 10);
  const std::uint32_t samples = Le32(h + 14);
  const std::uint64_t frameSamples = std::uint64_t{rate} * 256 / 245;
  if (frameSamples == 0) return Damaged("impossible sample rate");
  const std::uint64_t frames = (samples + frameSamples - 1) / frameSamples;
  // The seek table: every frame's size, then a CRC-32 of the table.
  std::uint64_t at = start + sizeof h;
  if (!f.Holds(at, frames * 4 + 4)) return Truncated(kUnknown, "ends inside the seek table");
  std::uint64_t data = 0;
  std::uint32_t crc = 0;
  unsigned char buffer[4096];
  for (std::uint64_t done = 0; done < frames * 4;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, frames * 4 - done));
    if (!f.Read(at + done, buffer, n)) return Unchecked("a read failed");
    crc = Crc32(crc, buffer, n);
    for (std::size_t i = 0; i < n; i += 4) data += Le32(buffer + i);
    done += n;
  }
  unsigned char stored[4];
  if (!f.Read(at + frames * 4, stored, 4) || Le32(stored) != crc) return Damaged("the seek table's CRC does not match");
  const std::uint64_t end = at + frames * 4 + 4 + data;
  if (end > f.Size()) return Truncated(end, "the seek table says " + std::to_string(end) + " bytes");
  return EndOfCountedAudio(f, end, std::to_string(frames) + " frames, as the seek table gives them", "TTA1");
}

// Monkey's Audio from version 3.98 on: a descriptor gives the length of
// itself, of the header, the seek table, the WAV header kept from the source,
// the frames (64 bits) and the WAV data that followed the sound. Older files
// have no descriptor and give no length of their frames.
CheckResult CheckMonkeysAudio(Fragment& f, const CheckOptions&) {
  unsigned char d[52];
  if (!f.Read(0, d, sizeof d) || std::memcmp(d, "MAC ", 4) != 0) return Damaged("no Monkey's Audio header");
  const unsigned version = Le16(d + 4);
  if (version < 3980) return Unchecked("version " + std::to_string(version) + " gives no length of its frames");
  const std::uint32_t descriptor = Le32(d + 8);
  const std::uint32_t header = Le32(d + 12);
  const std::uint32_t seekTable = Le32(d + 16);
  const std::uint64_t frames = std::uint64_t{Le32(d + 28)} << 32 | Le32(d + 24);
  if (descriptor < sizeof d || descriptor > 1024 || header < 24 || header > 1024 || seekTable % 4 != 0 ||
      frames > UINT64_MAX / 4) {
    return Damaged("an impossible descriptor");
  }
  unsigned char h[24];
  if (!f.Read(descriptor, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  const std::uint32_t blocksPerFrame = Le32(h + 4);
  const std::uint32_t finalBlocks = Le32(h + 8);
  const std::uint32_t totalFrames = Le32(h + 12);
  const unsigned channels = Le16(h + 18);
  if (blocksPerFrame == 0 || finalBlocks > blocksPerFrame || channels == 0 || channels > 32 ||
      std::uint64_t{seekTable} < std::uint64_t{totalFrames} * 4 || (totalFrames == 0) != (frames == 0)) {
    return Damaged("an impossible header");
  }
  // The seek table's first entry is where the first frame begins: right
  // after the parts before it.
  const std::uint64_t first = std::uint64_t{descriptor} + header + seekTable + Le32(d + 20);
  const std::uint64_t end = first + frames + Le32(d + 32);
  unsigned char entry[4];
  if (totalFrames > 0) {
    if (!f.Read(descriptor + header, entry, 4)) return Truncated(end, "ends inside the seek table");
    if (Le32(entry) != static_cast<std::uint32_t>(first)) return Damaged("the seek table does not point at the frames");
  }
  if (end > f.Size()) return Truncated(end, "the descriptor says " + std::to_string(end) + " bytes");
  return EndOfCountedAudio(f, end, std::to_string(totalFrames) + " frames, as the descriptor gives their length", "MAC ");
}

extern const FormatRow kApeRow{.extensions = {"ape"}, .checker = CheckMonkeysAudio};
extern const FormatRow kTtaRow{.extensions = {"tta"}, .checker = CheckTta};
extern const FormatRow kWavPackRow{.extensions = {"wv"}, .checker = CheckWavPack};

}  // namespace tessaro::formats
