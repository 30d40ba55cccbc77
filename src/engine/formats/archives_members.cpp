// Archives that are a plain row of members, each header giving its data's
// size: cpio (to its TRAILER!!! entry) and ar, with Debian packages.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// A number written in `n` characters of the given base, with trailing spaces
// allowed (ar) when `spaces`; false when anything else is there.
bool ParseNumber(const unsigned char* p, std::size_t n, unsigned base, bool spaces, std::uint64_t& value) {
  value = 0;
  std::size_t i = 0;
  for (; i < n; ++i) {
    unsigned digit = 0;
    const unsigned char c = p[i];
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else break;
    if (digit >= base) return false;
    value = value * base + digit;
  }
  if (i == 0) return false;
  for (; i < n; ++i) {
    if (!spaces || p[i] != ' ') return false;
  }
  return true;
}

struct CpioEntry {
  std::uint64_t next = 0;  // where the entry after it begins
  bool trailer = false;
};

// One cpio entry at `at` in any of the three formats: new ASCII (070701,
// 070702 with checksums), old portable ASCII (070707) and old binary.
Verdict ReadCpioEntry(Fragment& f, std::uint64_t at, CpioEntry& e, std::string& why) {
  unsigned char h[110];
  if (!f.Read(at, h, 6)) return Verdict::kTruncated;
  std::uint64_t headerSize = 0, nameSize = 0, dataSize = 0, align = 1;
  bool ok = true;
  if (std::memcmp(h, "070701", 6) == 0 || std::memcmp(h, "070702", 6) == 0) {
    if (!f.Read(at, h, 110)) return Verdict::kTruncated;
    ok = ParseNumber(h + 54, 8, 16, false, dataSize) && ParseNumber(h + 94, 8, 16, false, nameSize);
    headerSize = 110;
    align = 4;
  } else if (std::memcmp(h, "070707", 6) == 0) {
    if (!f.Read(at, h, 76)) return Verdict::kTruncated;
    ok = ParseNumber(h + 59, 6, 8, false, nameSize) && ParseNumber(h + 65, 11, 8, false, dataSize);
    headerSize = 76;
  } else if (Le16(h) == 0x71C7 || Be16(h) == 0x71C7) {
    if (!f.Read(at, h, 26)) return Verdict::kTruncated;
    const bool little = Le16(h) == 0x71C7;
    const auto half = [&](int i) { return little ? Le16(h + i) : Be16(h + i); };
    nameSize = half(20);
    dataSize = static_cast<std::uint64_t>(half(22)) << 16 | half(24);
    headerSize = 26;
    align = 2;
  } else {
    why = "no cpio header";
    return Verdict::kDamaged;
  }
  if (!ok || nameSize == 0 || nameSize > 4096) {
    why = "impossible cpio header";
    return Verdict::kDamaged;
  }
  const auto padded = [align](std::uint64_t n) { return (n + align - 1) / align * align; };
  const std::uint64_t dataAt = at + padded(headerSize + nameSize);
  unsigned char name[11];
  if (!f.Holds(at + headerSize, nameSize)) return Verdict::kTruncated;
  e.trailer = nameSize == 11 && f.Read(at + headerSize, name, 11) && std::memcmp(name, "TRAILER!!!", 11) == 0;
  if (!f.Holds(dataAt, dataSize)) return Verdict::kTruncated;
  e.next = dataAt + padded(dataSize);
  return Verdict::kIntact;
}

}  // namespace

// cpio: entries to the one named TRAILER!!!; writers then fill up to a whole
// 512-byte block with zeros, which belong to the file when they are there.
CheckResult CheckCpio(Fragment& f, const CheckOptions&) {
  std::uint64_t at = 0, entries = 0;
  CpioEntry e;
  for (;;) {
    std::string why;
    const Verdict v = ReadCpioEntry(f, at, e, why);
    if (v == Verdict::kTruncated) return Truncated(kUnknown, "ends inside entry " + std::to_string(entries + 1));
    if (v == Verdict::kDamaged) return Damaged(why + " at entry " + std::to_string(entries + 1));
    at = std::min(e.next, f.Size());
    if (e.trailer) break;
    ++entries;
  }
  const std::uint64_t block = (at + 511) / 512 * 512;
  const std::uint64_t p = ZerosUpTo(f, at, block);
  const std::string detail = Count(entries, "entry", "entries") + " and the trailer";
  if (p == kUnknown) return Unchecked("a read failed");
  if (p == block) return Intact(block, detail + ", zeros to the end of its 512-byte block");
  // Ending right after the trailer, it is a whole archive as far as anyone
  // can tell (the padding is the writer's habit, not the format's).
  if (p > at && p >= f.Size()) return Truncated(block, detail + "; the fragment ends before its 512-byte block does");
  return Intact(at, detail);
}

namespace {

// ar: "!<arch>\n", then members of a 60-byte text header and their data,
// padded to an even length. Nothing marks the last member, so the archive
// ends where no header follows.
struct ArMembers {
  bool debianBinaryFirst = false;  // what a Debian package needs
  bool data = false;
};

CheckResult WalkAr(Fragment& f, ArMembers& seen) {
  unsigned char h[60];
  if (!f.Read(0, h, 8)) return Truncated(kUnknown, "ends inside the signature");
  if (std::memcmp(h, "!<thin>\n", 8) == 0) return Unchecked("thin archive: its members lie in other files");
  if (std::memcmp(h, "!<arch>\n", 8) != 0) return Damaged("no ar signature");
  std::uint64_t at = 8, members = 0;
  while (f.Holds(at, 1)) {
    if (!f.Read(at, h, 60)) {
      // Fewer bytes than a header: zeros are slack, anything else may be
      // the start of a member the fragment cut.
      if (ZerosUpTo(f, at, f.Size()) == f.Size()) break;
      return Truncated(kUnknown, "ends inside the header of member " + std::to_string(members + 1));
    }
    std::uint64_t size = 0, number = 0;
    const bool header = h[58] == '`' && h[59] == '\n' && ParseNumber(h + 48, 10, 10, true, size) &&
                        (h[16] == ' ' || ParseNumber(h + 16, 12, 10, true, number)) &&
                        (h[40] == ' ' || ParseNumber(h + 40, 8, 8, true, number));
    if (!header) {
      if (members == 0) return Damaged("no member header after the signature");
      break;
    }
    const std::uint64_t next = at + 60 + size + (size & 1);
    if (size > f.Size() || next > f.Size()) return Truncated(kUnknown, "ends inside member " + std::to_string(members + 1));
    if (members == 0) seen.debianBinaryFirst = std::memcmp(h, "debian-binary   ", 16) == 0;
    if (std::memcmp(h, "data.tar", 8) == 0) seen.data = true;
    ++members;
    at = next;
  }
  return Intact(at, Count(members, "member", "members"));
}

}  // namespace

CheckResult CheckAr(Fragment& f, const CheckOptions&) {
  ArMembers seen;
  return WalkAr(f, seen);
}

// A Debian package is an ar archive of debian-binary, the control archive
// and the data archive, in that order; it is whole once the data member is.
CheckResult CheckDeb(Fragment& f, const CheckOptions&) {
  ArMembers seen;
  CheckResult r = WalkAr(f, seen);
  if (r.verdict != Verdict::kIntact) return r;
  if (!seen.debianBinaryFirst) return Damaged("debian-binary is not the first member");
  if (!seen.data) return Truncated(kUnknown, "ends before the data member");
  return r;
}

extern const FormatRow kCpioRow{.extensions = {"cpio"}, .checker = CheckCpio};
extern const FormatRow kArRow{.extensions = {"a"}, .checker = CheckAr, .knowsWhenCut = false};
extern const FormatRow kDebRow{.extensions = {"deb"}, .checker = CheckDeb};

}  // namespace tessaro::formats
