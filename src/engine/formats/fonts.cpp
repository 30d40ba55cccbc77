// Fonts. TrueType and OpenType (and collections of them) are a table
// directory of offsets and lengths: the file ends after the furthest table,
// padded to four bytes, and every table carries a checksum (the sum of its
// 32-bit words) that is verified. WOFF and WOFF2 state their whole length in
// their header; what they list must lie inside it.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

constexpr std::uint64_t Pad4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// The checksum of `length` bytes at `offset`, as if padded with zeros to four;
// the head table's own adjustment field (bytes 8..11) counts as zero.
bool TableSum(Fragment& f, std::uint64_t offset, std::uint64_t length, bool head, std::uint32_t* sum) {
  unsigned char buffer[16384];
  std::uint32_t s = 0;
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, length - done));
    if (!f.Read(offset + done, buffer, n)) return false;
    const std::size_t whole = n + (-n & 3);
    std::memset(buffer + n, 0, whole - n);
    if (head && done == 0 && n >= 12) std::memset(buffer + 8, 0, 4);
    for (std::size_t i = 0; i < whole; i += 4) s += Be32(buffer + i);
    done += n;
  }
  *sum = s;
  return true;
}

// One font's table directory at `at`: each table inside the fragment with
// its checksum right; `end` grows to the furthest table end. `budget` counts
// the bytes left to sum: tables that all claim the whole file, or fonts of a
// collection that share one directory, must not make the check quadratic.
CheckResult Directory(Fragment& f, std::uint64_t at, std::uint64_t* end, std::uint64_t* tables, std::uint64_t* budget) {
  unsigned char h[12];
  if (!f.Read(at, h, sizeof h)) return Truncated(kUnknown, "ends inside a font's header");
  const std::uint32_t version = Be32(h);
  if (version != 0x00010000 && std::memcmp(h, "OTTO", 4) != 0 && std::memcmp(h, "true", 4) != 0 &&
      std::memcmp(h, "typ1", 4) != 0) {
    return Damaged("no font version at " + std::to_string(at));
  }
  const std::uint16_t count = Be16(h + 4);
  if (count == 0) return Damaged("a font without tables");
  for (std::uint16_t i = 0; i < count; ++i) {
    unsigned char r[16];
    if (!f.Read(at + 12 + 16ull * i, r, sizeof r)) return Truncated(kUnknown, "ends inside the table directory");
    const std::uint64_t offset = Be32(r + 8);
    const std::uint64_t length = Be32(r + 12);
    *end = std::max(*end, offset + length);
    if (!f.Holds(offset, length)) {
      return Truncated(kUnknown, "ends inside table " + std::string(reinterpret_cast<char*>(r), 4));
    }
    if (length + 64 > *budget) return Unchecked("too many tables to check");
    *budget -= length + 64;
    std::uint32_t sum = 0;
    if (!TableSum(f, offset, length, std::memcmp(r, "head", 4) == 0, &sum)) return Unchecked("a read failed");
    // Some tools sum the head table with its adjustment field as it stands.
    unsigned char adjustment[4] = {0, 0, 0, 0};
    const bool head = std::memcmp(r, "head", 4) == 0 && length >= 12 && f.Read(offset + 8, adjustment, 4);
    if (sum != Be32(r + 4) && !(head && sum + Be32(adjustment) == Be32(r + 4))) {
      return Damaged("checksum of table " + std::string(reinterpret_cast<char*>(r), 4) + " does not match");
    }
    ++*tables;
  }
  return Intact(*end, "");
}

}  // namespace

CheckResult CheckSfnt(Fragment& f, const CheckOptions&) {
  unsigned char h[12];
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  std::uint64_t end = 0;
  std::uint64_t tables = 0;
  std::uint32_t fonts = 1;
  std::uint64_t budget = 4 * f.Size() + 65536;
  if (std::memcmp(h, "ttcf", 4) == 0) {
    fonts = Be32(h + 8);
    const std::uint32_t version = Be32(h + 4);
    if (fonts == 0 || fonts > f.Size() / 4 || (version != 0x00010000 && version != 0x00020000)) {
      return Damaged("impossible collection header");
    }
    for (std::uint32_t i = 0; i < fonts; ++i) {
      unsigned char o[4];
      if (!f.Read(12 + 4ull * i, o, 4)) return Truncated(kUnknown, "ends inside the collection header");
      const CheckResult r = Directory(f, Be32(o), &end, &tables, &budget);
      if (r.verdict != Verdict::kIntact) return r;
    }
    unsigned char dsig[12];
    if (version == 0x00020000 && f.Read(12 + 4ull * fonts, dsig, sizeof dsig) && std::memcmp(dsig, "DSIG", 4) == 0) {
      end = std::max<std::uint64_t>(end, std::uint64_t{Be32(dsig + 8)} + Be32(dsig + 4));
    }
  } else {
    const CheckResult r = Directory(f, 0, &end, &tables, &budget);
    if (r.verdict != Verdict::kIntact) return r;
  }
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  // The padding after the last table: zeros when present; a fragment that
  // stops inside it may have lost its last bytes.
  const std::uint64_t padded = Pad4(end);
  unsigned char pad[4] = {0, 0, 0, 0};
  if (padded > f.Size()) return Unchecked("ends inside the padding of the last table");
  if (!f.Read(end, pad, static_cast<std::size_t>(padded - end))) return Unchecked("a read failed");
  if (std::any_of(pad, pad + (padded - end), [](unsigned char b) { return b != 0; })) {
    return Unchecked("the last table is not padded with zeros");
  }
  return Intact(padded, std::to_string(fonts) + (fonts == 1 ? " font, " : " fonts, ") + std::to_string(tables) +
                            " tables, every checksum right");
}

// WOFF and WOFF2: the header's length is the file's; the tables (and the
// optional metadata and private blocks) must lie inside it.
CheckResult CheckWoff(Fragment& f, const CheckOptions&) {
  unsigned char h[48];
  if (!f.Read(0, h, 44)) return Truncated(kUnknown, "ends inside the header");
  const bool two = std::memcmp(h, "wOF2", 4) == 0;
  if (!two && std::memcmp(h, "wOFF", 4) != 0) return Damaged("no WOFF signature");
  if (two && !f.Read(0, h, 48)) return Truncated(kUnknown, "ends inside the header");
  const std::uint64_t length = Be32(h + 8);
  const std::uint16_t count = Be16(h + 12);
  const std::size_t blocks = two ? 28 : 24;  // metadata offset, length, original length, private offset, length
  const std::uint64_t headerSize = two ? 48 : 44;
  if (count == 0 || length < headerSize) return Damaged("impossible header");
  std::uint64_t furthest = headerSize;
  for (int k = 0; k < 2; ++k) {
    const std::uint64_t offset = Be32(h + blocks + 12 * k);
    const std::uint64_t size = Be32(h + blocks + 12 * k + 4);
    if (offset != 0 && size != 0) furthest = std::max(furthest, offset + size);
  }
  if (!two) {
    for (std::uint16_t i = 0; i < count; ++i) {
      unsigned char r[20];
      if (!f.Read(44 + 20ull * i, r, sizeof r)) return Truncated(length, "ends inside the table directory");
      furthest = std::max<std::uint64_t>(furthest, std::uint64_t{Be32(r + 4)} + Be32(r + 8));
    }
  } else {
    furthest = std::max<std::uint64_t>(furthest, headerSize + Be32(h + 20));  // at least the compressed data
  }
  if (furthest > length) return Damaged("a block lies beyond the declared length");
  const bool extraBlocks = Be32(h + blocks) != 0 || Be32(h + blocks + 12) != 0;
  if (!two && !extraBlocks && Pad4(furthest) != length) {
    return Damaged("the declared length runs past the last table");
  }
  if (length > f.Size()) return Truncated(length, "expected " + std::to_string(length) + " bytes");
  return Intact(length, std::to_string(count) + " tables inside the declared " + std::to_string(length) + " bytes");
}

extern const FormatRow kSfntRow{.extensions = {"ttf", "otf", "ttc"}, .checker = CheckSfnt, .checksEveryByte = true};
extern const FormatRow kWoffRow{.extensions = {"woff", "woff2"}, .checker = CheckWoff};

}  // namespace tessaro::formats
