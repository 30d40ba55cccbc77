// Archives and compressed files: where each format's structure says the file ends.

#include <algorithm>
#include <cstring>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

std::uint64_t ZerosUpTo(Fragment& f, std::uint64_t from, std::uint64_t to) {
  unsigned char block[512];
  std::uint64_t p = from;
  while (p < to && p < f.Size()) {
    const std::size_t n = f.ReadSome(p, block, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, to - p)));
    if (n == 0) return kUnknown;
    const auto* other = std::find_if(block, block + n, [](unsigned char b) { return b != 0; });
    p += static_cast<std::uint64_t>(other - block);
    if (other != block + n) break;
  }
  return p;
}

Next NextMember(Fragment& f, std::uint64_t at, const void* magic, std::size_t n) {
  unsigned char bytes[8];
  const std::size_t got = f.ReadSome(at, bytes, std::min(n, sizeof bytes));
  if (got == 0 || std::memcmp(bytes, magic, got) != 0) return Next::kNone;
  return got == n ? Next::kMore : Next::kCut;
}

namespace {

// tar: 512-byte headers, each with its checksum and the octal size of the
// data that follows in 512-byte blocks, up to two blocks of zeros. Writers
// fill the archive up to a whole record of 20 blocks (10,240 bytes) with
// zeros; those belong to the file, so the end is the record's end when the
// zeros are there, else the end-of-archive blocks' end.
CheckResult CheckTar(Fragment& f, const CheckOptions&) {
  unsigned char block[512];
  std::uint64_t at = 0;
  std::uint64_t members = 0;
  auto zero = [&](std::uint64_t offset, bool& all) {
    if (!f.Read(offset, block, 512)) return false;
    all = std::all_of(block, block + 512, [](unsigned char b) { return b == 0; });
    return true;
  };
  for (;;) {
    bool empty = false;
    if (!zero(at, empty)) return Truncated(kUnknown, "ends inside the header of member " + std::to_string(members + 1));
    if (empty) {
      bool second = false;
      if (!zero(at + 512, second)) return Truncated(kUnknown, "ends inside the end-of-archive blocks");
      if (!second) return Damaged("a lone zero block at " + std::to_string(at));
      break;
    }
    unsigned sum = 0;
    for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : block[i];
    std::uint64_t stored = 0, size = 0;
    int digits = 0;
    for (int i = 148; i < 156 && block[i] >= '0' && block[i] <= '7'; ++i, ++digits) stored = stored * 8 + (block[i] - '0');
    if (digits == 0 || stored != sum) return Damaged("header checksum of member " + std::to_string(members + 1) + " does not match");
    if (block[124] & 0x80) {
      // Base-256 size, as GNU tar writes sizes of 8 GiB and more.
      for (int i = 125; i < 136; ++i) size = size << 8 | block[i];
    } else {
      for (int i = 124; i < 136 && block[i] >= '0' && block[i] <= '7'; ++i) size = size * 8 + (block[i] - '0');
    }
    if (size > f.Size()) return Truncated(kUnknown, "member " + std::to_string(members + 1) + " is larger than the fragment");
    ++members;
    at += 512 + (size + 511) / 512 * 512;
  }
  const std::uint64_t end = at + 1024;
  const std::uint64_t record = (end + 10239) / 10240 * 10240;
  const std::string detail = Count(members, "member", "members") + ", every header checksum right";
  // Zeros after the end blocks, up to the record's end or the fragment's.
  const std::uint64_t p = ZerosUpTo(f, end, record);
  if (p == kUnknown) return Unchecked("a read failed");
  if (p == record) return Intact(record, detail + ", zeros to the end of its 10,240-byte record");
  // The fragment ends inside zeros that may be the record's: the file may go
  // on, and nothing of it is cut. (Ending right after the end blocks, it is a
  // whole archive as far as anyone can tell.)
  if (p > end && p >= f.Size()) {
    return Truncated(record, detail + "; the fragment ends before its 10,240-byte record does");
  }
  return Intact(end, detail);
}

}  // namespace

extern const FormatRow kTarRow{.extensions = {"tar"}, .checker = CheckTar};

}  // namespace tessaro::formats
