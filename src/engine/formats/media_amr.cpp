// AMR and AMR-WB speech in their storage format: the magic line ("#!AMR\n",
// "#!AMR-WB\n"), then frames, each a header byte (a zero bit, the frame type
// in four bits, the quality bit, two zero bits) and the bits of its type.
// Nothing counts the frames, so the stream ends where no frame follows.
//
// Zeros read as frames: a zero byte is the header of a 4.75 kbit/s (6.60 in
// wide band) frame marked bad, and zero slack would go on as such frames to
// its end. No encoder writes an all-zero frame, let alone one after another
// up to a sector's end: a zero header with only zeros after it to the end of
// its sector (or of the fragment) is taken for slack, and the file ends
// before it. A real bad frame carries speech bits; it goes on being read.

#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// The bytes after the header of each frame type; -1 for the reserved types.
constexpr int kNarrow[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, -1, -1, -1, 0};
constexpr int kWide[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};

CheckResult WalkAmr(Fragment& f, const char* magic, const int (&sizes)[16]) {
  const std::size_t magicLength = std::strlen(magic);
  char head[16];
  if (!f.Read(0, head, magicLength) || std::memcmp(head, magic, magicLength) != 0) return Damaged("no AMR magic line");
  std::uint64_t at = magicLength, frames = 0;
  for (;; ++frames) {
    unsigned char h = 0;
    if (f.ReadSome(at, &h, 1) == 0) break;
    if (h == 0) {
      if (ZerosToSectorEnd(f, at) && frames > 0 && f.Size() - at <= kMostSlack) {
        return Intact(at, std::to_string(frames) + " frames, then zeros to the sector's end");
      }
    }
    const int size = sizes[h >> 3 & 15];
    if ((h & 0x83) != 0 || size < 0) break;
    if (!f.Holds(at, 1u + static_cast<unsigned>(size))) return Truncated(kUnknown, "ends inside frame " + std::to_string(frames + 1));
    at += 1u + static_cast<unsigned>(size);
  }
  if (frames == 0) return Damaged("no frame after the magic line");
  // Another file of either band after this one begins with "#!AMR".
  return EndOfUncountedChain(f, at, std::to_string(frames) + " frames", "#!AMR");
}

}  // namespace

CheckResult CheckAmr(Fragment& f, const CheckOptions&) { return WalkAmr(f, "#!AMR\n", kNarrow); }

CheckResult CheckAmrWideband(Fragment& f, const CheckOptions&) { return WalkAmr(f, "#!AMR-WB\n", kWide); }

extern const FormatRow kAmrRow{.extensions = {"amr"}, .checker = CheckAmr, .knowsWhenCut = false};
extern const FormatRow kAmrWidebandRow{.extensions = {"awb"}, .checker = CheckAmrWideband, .knowsWhenCut = false};

}  // namespace tessaro::formats
