// ZIP and the formats built on it (Office Open XML, OpenDocument, EPUB, JAR):
// the local headers walked from the first byte, the central directory that
// must follow them and point back at them, and the end of central directory
// record, whose comment reaches the file's true end. Walking from the front
// means another archive's end record in the slack is never taken for ours.
// Members whose sizes follow their data take them from the central directory
// (found from the back, see archives_zip.h) rather than being inflated: Office
// Open XML writers make every member so, and inflating them all was most of
// the time a check took.

#include <algorithm>
#include <string>

#include "engine/formats/archive_checks.h"
#include "engine/formats/archives_zip.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

bool ReadSignature(Fragment& f, std::uint64_t at, std::uint32_t& signature) {
  unsigned char b[4];
  if (!f.Read(at, b, 4)) return false;
  signature = Le32(b);
  return true;
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
  const InflateResult r = Inflate(f, h.data, h.data + h.compressed);
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
        if (skip == 4 && Le32(buffer + i) != kZipDescriptor) continue;
        const std::uint64_t compressed = wide == 8 ? Le64(d + 4) : Le32(d + 4);
        const std::uint64_t size = wide == 8 ? Le64(d + 12) : Le32(d + 8);
        if (Le32(d) == crc && compressed == length && size == length) return length;
      }
      crc = Crc32(crc, buffer + i, 1);
    }
  }
  return kUnknown;
}

// The central directory's entry for member `k` at `at`, when it is that
// member's (same place, name and method) and its data ends before the
// directory begins.
bool EntryOf(Fragment& f, ZipDirectory& directory, std::uint64_t k, std::uint64_t at, const LocalHeader& h,
             CentralEntry& entry) {
  return directory.Entry(k, entry) && entry.offset == at && entry.nameLength == h.nameLength &&
         entry.method == h.method && SameBytes(f, at + 30, entry.name, h.nameLength) && h.data <= directory.Start() &&
         entry.compressed <= directory.Start() - h.data;
}

// The walk of the whole archive. With a directory, a deflated member whose
// sizes follow its data takes them from its directory entry, and the data
// descriptor there must agree; without one, it is inflated to find its end.
// A result other than intact from a walk that consulted the directory may
// come from trusting it wrongly, so the caller walks again without it.
CheckResult Walk(Fragment& f, const CheckOptions& options, ZipDirectory* central) {
  // The local headers, each followed by its data and, when the writer did not
  // know the sizes before the data, a data descriptor.
  std::uint64_t at = 0, members = 0, verified = 0, confirmed = 0;
  std::uint32_t signature = 0;
  for (;;) {
    if (!ReadSignature(f, at, signature)) return Truncated(kUnknown, "ends after " + std::to_string(members) + " members");
    if (signature != kZipLocal) break;
    const std::string which = "member " + std::to_string(members + 1);
    LocalHeader h;
    if (ReadLocal(f, at, h) != ZipRead::kOk) return Truncated(kUnknown, "ends inside the header of " + which);
    const bool descriptor = (h.flags & 8) != 0;
    const bool encrypted = (h.flags & 1) != 0;
    std::uint32_t crc = 0;
    bool crcKnown = false;
    CentralEntry entry;
    bool fromDirectory = false;
    // When the sizes come after the data, the central directory tells them
    // or inflating finds its end, or for data stored as it is, the
    // descriptor that matches what precedes it.
    const bool sizesLater = descriptor && h.compressed == 0;
    if (sizesLater && h.method == 0 && !encrypted) {
      h.compressed = h.size = FindStoredEnd(f, h, crc);
      if (h.compressed == kUnknown) return Truncated(kUnknown, "ends inside the data of " + which);
      crcKnown = true;
    } else if (sizesLater && (h.method != 8 || encrypted)) {
      return Unchecked(which + "'s size is told only after its data");
    } else if (sizesLater && central != nullptr) {
      if (!EntryOf(f, *central, members, at, h, entry)) return Unchecked("central directory does not list " + which);
      h.compressed = entry.compressed;
      h.size = entry.size;
      fromDirectory = true;
      ++confirmed;
    } else if (sizesLater) {
      const InflateResult r = Inflate(f, h.data, f.Size());
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
      if (ReadSignature(f, at, signature) && signature == kZipDescriptor) at += 4;
      if (!f.Read(at, d, length)) return Truncated(kUnknown, "ends inside the data descriptor of " + which);
      const std::uint64_t compressed = h.zip64 ? Le64(d + 4) : Le32(d + 4);
      const std::uint64_t size = h.zip64 ? Le64(d + 12) : Le32(d + 8);
      if (compressed != h.compressed || size != h.size) return Damaged("data descriptor of " + which + " tells other sizes");
      h.crc = Le32(d);
      at += length;
      if (fromDirectory && h.crc != entry.crc) {
        return Damaged("data descriptor of " + which + " tells another CRC-32 than the central directory");
      }
    }
    if (crcKnown) {
      if (crc != h.crc) return Damaged("CRC-32 of " + which + " does not match");
      ++verified;
    }
    ++members;
  }
  if (signature == kZipExtraData) return Unchecked("central directory is encrypted");
  if (signature != kZipCentral && signature != kZipEnd && signature != kZip64End && signature != kZipSignature) {
    return Damaged("no ZIP record at offset " + std::to_string(at) + ", after " + std::to_string(members) + " members");
  }
  if (confirmed > 0 && at != central->Start()) return Damaged("central directory is not where the members end");

  // The central directory: one entry per local header, each pointing back at
  // a local header of this file with the same name, method and sizes.
  const std::uint64_t directory = at;
  std::uint64_t entries = 0;
  while (ReadSignature(f, at, signature) && signature == kZipCentral) {
    const std::string which = "directory entry " + std::to_string(entries + 1);
    CentralEntry c;
    if (ReadCentral(f, at, c) != ZipRead::kOk) return Truncated(kUnknown, "ends inside " + which);
    LocalHeader h;
    if (c.offset >= directory || ReadLocal(f, c.offset, h) != ZipRead::kOk) {
      return Damaged(which + " points at no local header");
    }
    // With a data descriptor, the local header may leave the sizes and the
    // CRC at zero: the descriptor, checked above, told them.
    const bool descriptor = (h.flags & 8) != 0;
    const bool sizesLater = descriptor && h.compressed == 0;
    if (h.nameLength != c.nameLength || h.method != c.method || !SameBytes(f, c.offset + 30, c.name, c.nameLength) ||
        (!sizesLater && (h.compressed != c.compressed || h.size != c.size)) || (!descriptor && h.crc != c.crc) ||
        !f.Holds(h.data, c.compressed) || h.data + c.compressed > directory) {
      return Damaged(which + " does not match its local header");
    }
    ++entries;
    at = c.next;
  }
  if (!f.Holds(at, 4)) return Truncated(kUnknown, "ends inside the central directory");
  if (entries != members) {
    return Damaged("central directory lists " + std::to_string(entries) + " of " + std::to_string(members) + " members");
  }
  const std::uint64_t directoryEnd = at;
  if (ReadSignature(f, at, signature) && signature == kZipSignature) {
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
  if (Le32(e) != kZipEnd) return Damaged("no end of central directory record after the directory");
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
  if (confirmed > 0) {
    detail += ", data descriptors of " + Count(confirmed, "member", "members") + " agree with it (data not inflated)";
  }
  return Intact(end, detail);
}

}  // namespace

CheckResult CheckZip(Fragment& f, const CheckOptions& options) {
  // A deep check inflates every member anyway.
  if (options.deep) return CheckZipByInflating(f, options);
  ZipDirectory directory(f);
  CheckResult result = Walk(f, options, &directory);
  // Short of intact, trusting the directory may be what failed (a stale copy
  // of it in the slack, a writer that lists its members in another order):
  // inflating then gives the verdict, as it always has on such files.
  if (result.verdict != Verdict::kIntact && directory.Consulted()) return CheckZipByInflating(f, options);
  return result;
}

CheckResult CheckZipByInflating(Fragment& f, const CheckOptions& options) { return Walk(f, options, nullptr); }

extern const FormatRow kZipRow{.extensions = {"zip", "epub", "jar", "xps"}, .checker = CheckZip};
extern const FormatRow kOoxmlRow{
    .extensions = {"docx", "xlsx", "pptx", "docm", "xlsm", "pptm", "vsdx", "xlsb"},
    .checker = CheckZip,
    .nameReader = names::OoxmlTitle
};
extern const FormatRow kOdfRow{
    .extensions = {"odt", "ods", "odp", "odg"},
    .checker = CheckZip,
    .nameReader = names::OdfTitle
};

}  // namespace tessaro::formats
