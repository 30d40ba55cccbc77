// ARJ: a main header, then each member's local header and its packed bytes,
// then a header of size 0 that ends the archive. Every header is a basic
// header ("60 EA", its size, the header, the CRC-32 of the header) followed
// by extended headers, each with its size and CRC, the last of size 0.

#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"
#include "engine/formats/read_bytes.h"

namespace tessaro::formats {
namespace {

// The largest basic header ARJ writes (its own limit).
constexpr std::uint16_t kMaxHeader = 2600;
// A bound on members, so that a crafted archive of empty members ends.
constexpr std::uint64_t kMaxMembers = 1u << 20;

CheckResult CheckArj(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0;
  for (std::uint64_t member = 0; member <= kMaxMembers; ++member) {
    unsigned char mark[4];
    if (!f.Read(at, mark, 4)) {
      if (f.Failed()) return Unchecked("a read failed");
      return Truncated(kUnknown, "ends before the header at " + std::to_string(at));
    }
    if (mark[0] != 0x60 || mark[1] != 0xEA) {
      return member == 0 ? Damaged("no ARJ signature") : Damaged("no header at " + std::to_string(at));
    }
    const std::uint16_t size = Le16(mark + 2);
    if (size == 0) {
      if (member == 0) return Damaged("no main header");
      return Intact(at + 4, std::to_string(member - 1) + " members, every header's CRC right, the end at " + std::to_string(at));
    }
    if (size > kMaxHeader || size < 30) return Damaged("impossible header size at " + std::to_string(at));
    unsigned char header[kMaxHeader + 4];
    if (!f.Read(at + 4, header, size + 4u)) {
      if (f.Failed()) return Unchecked("a read failed");
      return Truncated(kUnknown, "ends inside the header at " + std::to_string(at));
    }
    if (Crc32(0, header, size) != Le32(header + size)) return Damaged("the CRC of the header at " + std::to_string(at) + " does not match");
    const unsigned type = header[6];
    if ((member == 0) != (type == 2)) return Damaged("the header at " + std::to_string(at) + " is of the wrong type");
    std::uint64_t next = at + 4 + size + 4;
    // Extended headers: a size, then that many bytes and their CRC.
    for (int extended = 0;; ++extended) {
      unsigned char length[2];
      if (!f.Read(next, length, 2)) return Truncated(kUnknown, "ends inside the header at " + std::to_string(at));
      next += 2;
      const std::uint16_t n = Le16(length);
      if (n == 0) break;
      if (extended >= 16) return Damaged("too many extended headers at " + std::to_string(at));
      std::uint32_t crc = 0;
      unsigned char stored[4];
      if (!CrcOf(f, next, n, crc) || !f.Read(next + n, stored, 4)) {
        return Truncated(kUnknown, "ends inside an extended header at " + std::to_string(at));
      }
      if (crc != Le32(stored)) return Damaged("the CRC of an extended header at " + std::to_string(at) + " does not match");
      next += n + 4u;
    }
    // A member's packed bytes follow its header; the main header has none.
    if (member > 0) next += Le32(header + 12);
    at = next;
  }
  return Damaged("more members than an archive holds");
}

}  // namespace

extern const FormatRow kArjRow{.extensions = {"arj"}, .checker = CheckArj};

}  // namespace tessaro::formats
