// gzip, whose members say nowhere how long they are, so inflating is the only
// way to their end.

#include <algorithm>
#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// The end of a gzip member's header at `at`, or 0 when the fragment ends
// inside it; `damaged` when it is not a gzip header.
std::uint64_t GzipHeaderEnd(Fragment& f, std::uint64_t at, bool& damaged, std::string& why) {
  damaged = false;
  unsigned char h[10];
  if (!f.Read(at, h, sizeof h)) return 0;
  if (h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0) != 0) {
    damaged = true;
    why = "no gzip header";
    return 0;
  }
  std::uint64_t p = at + 10;
  if (h[3] & 4) {  // FEXTRA
    unsigned char n[2];
    if (!f.Read(p, n, 2)) return 0;
    p += 2 + Le16(n);
  }
  // FNAME and FCOMMENT: text ended by a zero byte.
  for (const int flag : {8, 16}) {
    if (!(h[3] & flag)) continue;
    unsigned char buffer[256];
    for (;;) {
      const std::size_t got = f.ReadSome(p, buffer, sizeof buffer);
      if (got == 0) return 0;
      const unsigned char* zero = std::find(buffer, buffer + got, 0);
      p += static_cast<std::uint64_t>(zero - buffer);
      if (zero != buffer + got) {
        ++p;
        break;
      }
    }
  }
  if (h[3] & 2) {  // FHCRC: the low half of the CRC-32 of the header so far
    unsigned char stored[2];
    if (!f.Read(p, stored, 2)) return 0;
    std::uint32_t crc = 0;
    unsigned char buffer[512];
    for (std::uint64_t q = at; q < p;) {
      const std::size_t got = f.ReadSome(q, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, p - q)));
      if (got == 0) return 0;
      crc = Crc32(crc, buffer, got);
      q += got;
    }
    if ((crc & 0xFFFF) != Le16(stored)) {
      damaged = true;
      why = "header CRC does not match";
      return 0;
    }
    p += 2;
  }
  return f.Holds(p, 0) ? p : 0;
}

}  // namespace

// gzip: members one after another, each a header, a deflate stream, the
// CRC-32 and the length (mod 2^32) of what it inflates to. Another member
// follows only when the next bytes are a gzip header; one that the fragment
// cuts may be the file's own or another file's leftovers, so the file is
// then called truncated: nothing of it is cut.
CheckResult CheckGzip(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  std::uint64_t members = 0;
  for (;;) {
    const std::string which = "member " + std::to_string(members + 1);
    bool damaged = false;
    std::string why;
    const std::uint64_t body = GzipHeaderEnd(f, at, damaged, why);
    if (damaged) return Damaged(which + ": " + why);
    if (body == 0) return Truncated(kUnknown, "ends inside the header of " + which);
    const InflateResult r = Inflate(f, body, f.Size());
    if (r.status == InflateResult::Status::kBad) return Damaged(which + " does not inflate");
    if (r.status == InflateResult::Status::kCut) return Truncated(kUnknown, "ends inside the compressed data of " + which);
    unsigned char trailer[8];
    const std::uint64_t trailerAt = body + r.consumed;
    if (!f.Read(trailerAt, trailer, 8)) return Truncated(kUnknown, "ends inside the trailer of " + which);
    if (Le32(trailer) != r.crc) return Damaged("CRC-32 of " + which + " does not match");
    if (Le32(trailer + 4) != static_cast<std::uint32_t>(r.produced)) return Damaged("length of " + which + " does not match");
    ++members;
    at = trailerAt + 8;
    const Next next = NextMember(f, at, "\x1F\x8B\x08", 3);
    if (next == Next::kCut) return Truncated(kUnknown, "ends inside the header of member " + std::to_string(members + 1));
    if (next == Next::kNone) break;
  }
  return Intact(at, Count(members, "member", "members") + ", CRC-32 and length right");
}

extern const FormatRow kGzipRow{.extensions = {"gz"}, .checker = CheckGzip, .checksEveryByte = true};

}  // namespace tessaro::formats
