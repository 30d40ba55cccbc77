// Sound and video: where each format's structure says the file ends.

#include <cstring>

#include "engine/formats/checkers.h"
#include "engine/formats/media_checkers.h"

namespace tessaro::formats {

namespace {

// RIFF (WAV, AVI, WebP, ...): "RIFF", the size of what follows, a form type,
// then chunks (id, size, data, a pad byte to an even size) that fill it.
CheckResult CheckRiff(Fragment& f, const CheckOptions&) {
  unsigned char head[12];
  if (!f.Read(0, head, 12) || std::memcmp(head, "RIFF", 4) != 0) return Damaged("no RIFF header");
  const std::uint64_t end = 8 + std::uint64_t{Le32(head + 4)};
  if (end < 12) return Damaged("impossible RIFF size");
  std::uint64_t at = 12;
  std::uint64_t chunks = 0;
  while (at < end) {
    unsigned char chunk[8];
    if (!f.Read(at, chunk, 8)) return Truncated(end, "ends inside chunk " + std::to_string(chunks + 1));
    const std::uint64_t next = at + 8 + Le32(chunk + 4) + (Le32(chunk + 4) & 1);
    // A writer may leave the last pad byte out.
    if (next > end && next - 1 != end) {
      return Damaged("chunk at " + std::to_string(at) + " runs past the RIFF size");
    }
    ++chunks;
    at = next;
  }
  if (end > f.Size()) return Truncated(end, "the RIFF size says " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(chunks) + " chunks fill the RIFF size");
}

const CheckerEntry kMedia[] = {
    {"3g2", CheckIsoMedia},
    {"3gp", CheckIsoMedia},
    {"avif", CheckIsoMedia},
    {"cr3", CheckIsoMedia},
    {"heic", CheckIsoMedia},
    {"m4a", CheckIsoMedia},
    {"m4v", CheckIsoMedia},
    {"mov", CheckIsoMedia},
    {"mp4", CheckIsoMedia},
    // Without a Xing/Info frame, an MP3 cut on a frame boundary looks whole.
    {"oga", CheckOgg, true, true},
    {"ogg", CheckOgg, true, true},
    {"ogv", CheckOgg, true, true},
    {"opus", CheckOgg, true, true},
    {"spx", CheckOgg, true, true},
    {"flac", CheckFlac},
    {"mkv", CheckMatroska},
    {"webm", CheckMatroska},
    {"mp2", CheckMpegAudio, false},
    {"mp3", CheckMpegAudio, false},
    {"avi", CheckRiff},
    {"wav", CheckRiff},
    {"webp", CheckRiff},
};

}  // namespace

CheckerTable MediaCheckers() { return {kMedia, sizeof kMedia / sizeof kMedia[0]}; }

}  // namespace tessaro::formats
