// ZIP and the formats built on it (Office Open XML, OpenDocument, EPUB, JAR):
// the local headers walked from the first byte, the central directory that
// must follow them and point back at them, and the end of central directory
// record, whose comment reaches the file's true end. Walking from the front
// means another archive's end record in the slack is never taken for ours.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/archive_checks.h"

namespace tessaro::formats {

namespace {

constexpr std::uint32_t kLocal = 0x04034B50;
constexpr std::uint32_t kCentral = 0x02014B50;
constexpr std::uint32_t kDescriptor = 0x08074B50;
constexpr std::uint32_t kSignature = 0x05054B50;
constexpr std::uint32_t kZip64End = 0x06064B50;
constexpr std::uint32_t kZip64Locator = 0x07064B50;
constexpr std::uint32_t kEnd = 0x06054B50;
constexpr std::uint32_t kExtraData = 0x08064B50;

bool ReadSignature(Fragment& f, std::uint64_t at, std::uint32_t& signature) {
  unsigned char b[4];
  if (!f.Read(at, b, 4)) return false;
  signature = Le32(b);
  return true;
}

// The ZIP64 extended information field of an extra block: the 64-bit values
// that stand for the 32-bit fields set to all ones, in their fixed order.
// Returns false when the fragment ends inside the block.
bool ReadZip64(Fragment& f, std::uint64_t at, std::uint16_t length, std::uint64_t* fields[], int count, bool& found) {
  found = false;
  const std::uint64_t end = at + length;
  while (at + 4 <= end) {
    unsigned char h[4];
    if (!f.Read(at, h, 4)) return false;
    const std::uint16_t size = Le16(h + 2);
    if (Le16(h) == 1) {
      std::uint64_t p = at + 4;
      for (int i = 0; i < count; ++i) {
        if (*fields[i] != 0xFFFFFFFFu) continue;
        unsigned char v[8];
        if (p + 8 > at + 4 + size || !f.Read(p, v, 8)) break;
        *fields[i] = Le64(v);
        p += 8;
      }
      found = true;
      return true;
    }
    at += 4 + size;
  }
  return f.Holds(at, 0);
}

// Whether the names at two offsets, both `length` bytes long, are the same.
bool SameBytes(Fragment& f, std::uint64_t a, std::uint64_t b, std::uint16_t length) {
  unsigned char x[256], y[256];
  for (std::uint16_t done = 0; done < length;) {
    const std::size_t n = std::min<std::size_t>(sizeof x, length - done);
    if (!f.Read(a + done, x, n) || !f.Read(b + done, y, n) || std::memcmp(x, y, n) != 0) return false;
    done = static_cast<std::uint16_t>(done + n);
  }
  return true;
}

struct LocalHeader {
  std::uint16_t flags = 0, method = 0, nameLength = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0, size = 0;
  std::uint64_t data = 0;  // where the member's data begins
  bool zip64 = false;
};

enum class Read : std::uint8_t { kOk, kCut, kBad };

Read ReadLocal(Fragment& f, std::uint64_t at, LocalHeader& h) {
  unsigned char b[30];
  if (!f.Read(at, b, 30)) return Read::kCut;
  if (Le32(b) != kLocal) return Read::kBad;
  h.flags = Le16(b + 6);
  h.method = Le16(b + 8);
  h.crc = Le32(b + 14);
  h.compressed = Le32(b + 18);
  h.size = Le32(b + 22);
  h.nameLength = Le16(b + 26);
  const std::uint16_t extra = Le16(b + 28);
  std::uint64_t* fields[] = {&h.size, &h.compressed};
  if (!ReadZip64(f, at + 30 + h.nameLength, extra, fields, 2, h.zip64)) return Read::kCut;
  h.data = at + 30 + h.nameLength + extra;
  return Read::kOk;
}

// CRC-32 of a member's data as it is stored (method 0) or inflated (8);
// false for what cannot be verified here (other methods).
bool MemberCrc(Fragment& f, const LocalHeader& h, std::uint32_t& crc, bool& bad) {
  bad = false;
  crc = 0;
  if (h.method == 0) {
    unsigned char buffer[16384];
    for (std::uint64_t p = h.data, end = h.data + h.compressed; p < end;) {
      const std::size_t got =
          f.ReadSome(p, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, end - p)));
      if (got == 0) return false;
      crc = Crc32(crc, buffer, got);
      p += got;
    }
    return true;
  }
  if (h.method != 8) return false;
  const InflateResult r = InflateRaw(f, h.data, h.data + h.compressed);
  bad = r.status != InflateResult::Status::kEnd || r.consumed != h.compressed || r.produced != h.size;
  crc = r.crc;
  return true;
}

// A stored member whose sizes follow its data: its end is the first place
// where a data descriptor tells the CRC-32 of every byte before it and the
// distance from the data's start. Returns the data's length, or kUnknown
// when the fragment holds no such place.
std::uint64_t FindStoredEnd(Fragment& f, const LocalHeader& h, std::uint32_t& crc) {
  const std::size_t wide = h.zip64 ? 8 : 4;
  constexpr std::size_t kChunk = 16384;
  unsigned char buffer[kChunk + 24];
  crc = 0;
  for (std::uint64_t p = h.data; f.Holds(p, 4 + 2 * wide); p += kChunk) {
    const std::size_t got = f.ReadSome(p, buffer, sizeof buffer);
    for (std::size_t i = 0; i < kChunk && i < got; ++i) {
      const std::uint64_t length = p + i - h.data;
      for (const std::size_t skip : {std::size_t{4}, std::size_t{0}}) {
        const unsigned char* d = buffer + i + skip;
        if (i + skip + 4 + 2 * wide > got) continue;
        if (skip == 4 && Le32(buffer + i) != kDescriptor) continue;
        const std::uint64_t compressed = wide == 8 ? Le64(d + 4) : Le32(d + 4);
        const std::uint64_t size = wide == 8 ? Le64(d + 12) : Le32(d + 8);
        if (Le32(d) == crc && compressed == length && size == length) return length;
      }
      crc = Crc32(crc, buffer + i, 1);
    }
  }
  return kUnknown;
}

}  // namespace

CheckResult CheckZip(Fragment& f, const CheckOptions& options) {
  // The local headers, each followed by its data and, when the writer did not
  // know the sizes before the data, a data descriptor.
  std::uint64_t at = 0, members = 0, verified = 0;
  std::uint32_t signature = 0;
  for (;;) {
    if (!ReadSignature(f, at, signature)) return Truncated(kUnknown, "ends after " + std::to_string(members) + " members");
    if (signature != kLocal) break;
    const std::string which = "member " + std::to_string(members + 1);
    LocalHeader h;
    if (ReadLocal(f, at, h) != Read::kOk) return Truncated(kUnknown, "ends inside the header of " + which);
    const bool descriptor = (h.flags & 8) != 0;
    const bool encrypted = (h.flags & 1) != 0;
    std::uint32_t crc = 0;
    bool crcKnown = false;
    // When the sizes come after the data, inflating finds its end, or for
    // data stored as it is, the descriptor that matches what precedes it.
    const bool sizesLater = descriptor && h.compressed == 0;
    if (sizesLater && h.method == 0 && !encrypted) {
      h.compressed = h.size = FindStoredEnd(f, h, crc);
      if (h.compressed == kUnknown) return Truncated(kUnknown, "ends inside the data of " + which);
      crcKnown = true;
    } else if (sizesLater && (h.method != 8 || encrypted)) {
      return Unchecked(which + "'s size is told only after its data");
    } else if (sizesLater) {
      const InflateResult r = InflateRaw(f, h.data, f.Size());
      if (r.status == InflateResult::Status::kBad) return Damaged(which + " does not inflate");
      if (r.status == InflateResult::Status::kCut) return Truncated(kUnknown, "ends inside the data of " + which);
      h.compressed = r.consumed;
      h.size = r.produced;
      crc = r.crc;
      crcKnown = true;
    } else if (options.deep && !encrypted) {
      if (!f.Holds(h.data, h.compressed)) return Truncated(kUnknown, "ends inside the data of " + which);
      bool bad = false;
      crcKnown = MemberCrc(f, h, crc, bad);
      if (bad) return Damaged(which + " does not inflate to its size");
    }
    if (!f.Holds(h.data, h.compressed)) return Truncated(kUnknown, "ends inside the data of " + which);
    at = h.data + h.compressed;
    if (descriptor) {
      unsigned char d[24];
      const std::size_t wide = h.zip64 ? 8 : 4;
      const std::size_t length = 4 + 2 * wide;
      if (ReadSignature(f, at, signature) && signature == kDescriptor) at += 4;
      if (!f.Read(at, d, length)) return Truncated(kUnknown, "ends inside the data descriptor of " + which);
      const std::uint64_t compressed = h.zip64 ? Le64(d + 4) : Le32(d + 4);
      const std::uint64_t size = h.zip64 ? Le64(d + 12) : Le32(d + 8);
      if (compressed != h.compressed || size != h.size) return Damaged("data descriptor of " + which + " tells other sizes");
      h.crc = Le32(d);
      at += length;
    }
    if (crcKnown) {
      if (crc != h.crc) return Damaged("CRC-32 of " + which + " does not match");
      ++verified;
    }
    ++members;
  }
  if (signature == kExtraData) return Unchecked("central directory is encrypted");
  if (signature != kCentral && signature != kEnd && signature != kZip64End && signature != kSignature) {
    return Damaged("no ZIP record at offset " + std::to_string(at) + ", after " + std::to_string(members) + " members");
  }

  // The central directory: one entry per local header, each pointing back at
  // a local header of this file with the same name, method and sizes.
  const std::uint64_t directory = at;
  std::uint64_t entries = 0;
  while (ReadSignature(f, at, signature) && signature == kCentral) {
    const std::string which = "directory entry " + std::to_string(entries + 1);
    unsigned char b[46];
    if (!f.Read(at, b, 46)) return Truncated(kUnknown, "ends inside " + which);
    std::uint64_t compressed = Le32(b + 20), size = Le32(b + 24), offset = Le32(b + 42);
    const std::uint16_t nameLength = Le16(b + 28), extra = Le16(b + 30), comment = Le16(b + 32);
    std::uint64_t* fields[] = {&size, &compressed, &offset};
    bool zip64 = false;
    if (!ReadZip64(f, at + 46 + nameLength, extra, fields, 3, zip64)) return Truncated(kUnknown, "ends inside " + which);
    LocalHeader h;
    if (offset >= directory || ReadLocal(f, offset, h) != Read::kOk) return Damaged(which + " points at no local header");
    // With a data descriptor, the local header may leave the sizes and the
    // CRC at zero: the descriptor, checked above, told them.
    const bool descriptor = (h.flags & 8) != 0;
    const bool sizesLater = descriptor && h.compressed == 0;
    if (h.nameLength != nameLength || h.method != Le16(b + 10) || !SameBytes(f, offset + 30, at + 46, nameLength) ||
        (!sizesLater && (h.compressed != compressed || h.size != size)) || (!descriptor && h.crc != Le32(b + 16)) ||
        !f.Holds(h.data, compressed) || h.data + compressed > directory) {
      return Damaged(which + " does not match its local header");
    }
    ++entries;
    at += 46 + nameLength + extra + comment;
  }
  if (!f.Holds(at, 4)) return Truncated(kUnknown, "ends inside the central directory");
  if (entries != members) {
    return Damaged("central directory lists " + std::to_string(entries) + " of " + std::to_string(members) + " members");
  }
  const std::uint64_t directoryEnd = at;
  if (ReadSignature(f, at, signature) && signature == kSignature) {
    unsigned char n[2];
    if (!f.Read(at + 4, n, 2)) return Truncated(kUnknown, "ends inside the central directory's signature");
    at += 6 + Le16(n);
  }
  const std::uint64_t signedEnd = at;

  // The ZIP64 end records, then the end of central directory record.
  std::uint64_t zip64Entries = kUnknown, zip64Size = kUnknown, zip64Offset = kUnknown;
  if (ReadSignature(f, at, signature) && signature == kZip64End) {
    unsigned char b[56];
    if (!f.Read(at, b, 56)) return Truncated(kUnknown, "ends inside the ZIP64 end record");
    zip64Entries = Le64(b + 32);
    zip64Size = Le64(b + 40);
    zip64Offset = Le64(b + 48);
    const std::uint64_t recordEnd = at + 12 + Le64(b + 4);
    if (Le64(b + 4) < 44 || !f.Holds(recordEnd, 20)) return Truncated(kUnknown, "ends inside the ZIP64 end records");
    unsigned char l[20];
    if (!f.Read(recordEnd, l, 20) || Le32(l) != kZip64Locator || Le64(l + 8) != at) {
      return Damaged("ZIP64 end locator missing or wrong");
    }
    at = recordEnd + 20;
  }
  unsigned char e[22];
  if (!f.Read(at, e, 22)) return Truncated(kUnknown, "ends before the end of central directory record");
  if (Le32(e) != kEnd) return Damaged("no end of central directory record after the directory");
  // A field of all ones stands for its ZIP64 value; without ZIP64 records it
  // tells nothing (Info-ZIP writing ZIP64 to a pipe leaves them out), and the
  // walk above has found the directory anyway.
  const auto agrees = [](std::uint64_t narrow, std::uint64_t ones, std::uint64_t wide, std::uint64_t actual,
                         std::uint64_t other) {
    const std::uint64_t value = narrow == ones ? wide : narrow;
    return value == kUnknown || value == actual || value == other;
  };
  if (Le16(e + 4) != 0 || Le16(e + 6) != 0) return Unchecked("one volume of an archive spanning several");
  if (!agrees(Le16(e + 10), 0xFFFF, zip64Entries, entries, entries) ||
      !agrees(Le32(e + 16), 0xFFFFFFFF, zip64Offset, directory, directory) ||
      !agrees(Le32(e + 12), 0xFFFFFFFF, zip64Size, directoryEnd - directory, signedEnd - directory)) {
    return Damaged("end of central directory record does not match the directory");
  }
  const std::uint64_t end = at + 22 + Le16(e + 20);
  if (!f.Holds(end, 0)) return Truncated(end, "ends inside the archive's comment");
  std::string detail = Count(members, "member", "members") + ", central directory consistent";
  if (verified == members && members > 0) {
    detail += ", every member's CRC-32 right";
  } else if (verified > 0) {
    detail += ", " + std::to_string(verified) + " members' CRC-32 right";
  }
  return Intact(end, detail);
}

}  // namespace tessaro::formats
