// Musepack SV8: "MPCK", then packets, each a key of two capital letters and
// its size (in 7-bit groups, most significant first, the high bit telling
// that more follow), the key and size counted in. The stream header comes
// first, under a CRC-32; the stream end packet ("SE") closes the stream, and
// an APEv2 tag may follow it.

#include <cstring>
#include <string>

#include "engine/formats/format_row.h"
#include "engine/formats/media_checkers.h"

namespace tessaro::formats {

namespace {

// A size field of more bytes than this would be past any file.
constexpr int kMostSizeBytes = 9;
// A stream header larger than this holds no more than its few numbers.
constexpr std::uint64_t kMostStreamHeader = 64;

}  // namespace

CheckResult CheckMusepack(Fragment& f, const CheckOptions&) {
  unsigned char magic[4];
  if (!f.Read(0, magic, 4)) return Damaged("no MPCK header");
  // Stream versions 7 and older: frames of bit lengths, not walked here.
  if (std::memcmp(magic, "MP+", 3) == 0) return Unchecked("a Musepack stream of version 7 or older");
  if (std::memcmp(magic, "MPCK", 4) != 0) return Damaged("no MPCK header");
  std::uint64_t at = 4;
  std::uint64_t packets = 0;
  for (;;) {
    unsigned char head[2 + kMostSizeBytes];
    const std::size_t got = f.ReadSome(at, head, sizeof head);
    if (got < 3) return Truncated(kUnknown, "ends before the stream end packet");
    if (head[0] < 'A' || head[0] > 'Z' || head[1] < 'A' || head[1] > 'Z') {
      return Damaged("no packet at " + std::to_string(at));
    }
    std::uint64_t size = 0;
    std::size_t used = 2;
    for (;;) {
      if (used == got) return Truncated(kUnknown, "ends inside the size of packet " + std::to_string(packets + 1));
      if (used == sizeof head) return Damaged("an impossible size of packet " + std::to_string(packets + 1));
      size = size << 7 | (head[used] & 0x7F);
      if ((head[used++] & 0x80) == 0) break;
    }
    if (size < used) return Damaged("packet " + std::to_string(packets + 1) + " is shorter than its own header");
    const bool first = packets++ == 0;
    if (first) {
      // The stream header: its CRC-32 covers what follows the CRC.
      if (std::memcmp(head, "SH", 2) != 0) return Damaged("no stream header first");
      if (size < used + 5 || size > kMostStreamHeader) return Damaged("an impossible stream header size");
      unsigned char sh[kMostStreamHeader];
      if (!f.Read(at, sh, static_cast<std::size_t>(size))) return Truncated(kUnknown, "ends inside the stream header");
      if (Crc32(0, sh + used + 4, static_cast<std::size_t>(size) - used - 4) != Be32(sh + used)) {
        return Damaged("the stream header's CRC does not match");
      }
    }
    if (!f.Holds(at, size)) return Truncated(kUnknown, "ends inside packet " + std::to_string(packets));
    at += size;
    if (std::memcmp(head, "SE", 2) == 0) break;
  }
  return EndOfCountedAudio(f, at, std::to_string(packets) + " packets to the stream end", "MPCK");
}

extern const FormatRow kMusepackRow{.extensions = {"mpc"}, .checker = CheckMusepack};

}  // namespace tessaro::formats
