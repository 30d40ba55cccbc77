// FAT directory entries: 32 bytes each, an 8.3 name in the OEM code page with
// the attributes, dates, first cluster and size, preceded by the entries of
// its long name (attribute 0x0F, 13 UTF-16 units each, last part first, each
// with the checksum of the 8.3 name). A subfolder's first entries are "." and
// "..", which name its own first cluster and its parent's.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/folders/record_source.h"

namespace tessaro::folders {
namespace {

constexpr unsigned char kDeleted = 0xE5;
constexpr unsigned char kKanjiLead = 0x05;  // a first byte of 0xE5, stored so as not to read as deleted
constexpr unsigned char kLongNameAttributes = 0x0F;
constexpr unsigned char kVolumeLabel = 0x08;
constexpr unsigned char kDirectory = 0x10;
constexpr unsigned char kLastLongPart = 0x40;
constexpr unsigned char kLowerBase = 0x08;
constexpr unsigned char kLowerExtension = 0x10;
constexpr std::size_t kUnitsPerLongEntry = 13;
constexpr std::size_t kMostLongEntries = 20;  // 255 units
constexpr std::size_t kMostNameUnits = 255;
// FAT32 cluster numbers have 28 bits; 0x0FFFFFF7 marks a bad cluster.
constexpr std::uint64_t kLastCluster = 0x0FFFFFF6;

// Code page 437, which DOS and Windows in English write short names in, from
// 0x80 on.
constexpr std::uint16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// A byte an 8.3 name may hold: not a control character, not lower case
// (kept in the case bits instead), none of the characters a name forbids.
bool ShortNameByte(unsigned char c) {
  if (c < 0x20 || c == 0x7F || (c >= 'a' && c <= 'z')) return false;
  return std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

bool ShortNameBytes(const unsigned char* e) {
  if (e[0] == ' ') return false;
  for (int i = 0; i < 11; ++i) {
    if (!(i == 0 && e[0] == kKanjiLead) && !ShortNameByte(e[i])) return false;
  }
  return true;
}

bool ValidDate(std::uint64_t date) {
  const std::uint64_t month = date >> 5 & 15;
  return date == 0 || (month >= 1 && month <= 12 && (date & 31) != 0);
}

bool ValidTime(std::uint64_t time) { return (time >> 11) < 24 && (time >> 5 & 63) < 60 && (time & 31) < 30; }

std::uint64_t FirstCluster(const unsigned char* e) { return Le(e + 20, 2) << 16 | Le(e + 26, 2); }

// The fields of an 8.3 entry besides its name, as a FAT writes them: no
// reserved attribute bits, only the case bits among the reserved byte,
// times and dates that exist, a cluster that exists, and a size that fits
// what the entry is (a folder's is 0, and a file with bytes has a cluster).
bool SoundShortEntry(const unsigned char* e) {
  if ((e[11] & 0xC0) != 0 || (e[12] & ~(kLowerBase | kLowerExtension)) != 0 || e[13] > 199) return false;
  if (!ValidTime(Le(e + 14, 2)) || !ValidDate(Le(e + 16, 2)) || !ValidDate(Le(e + 18, 2)) ||
      !ValidTime(Le(e + 22, 2)) || !ValidDate(Le(e + 24, 2))) {
    return false;
  }
  const std::uint64_t cluster = FirstCluster(e);
  const std::uint64_t size = Le(e + 28, 4);
  if (cluster == 1 || cluster > kLastCluster) return false;
  if ((e[11] & kDirectory) != 0) return size == 0;
  return cluster != 0 || size == 0;
}

// "." or "..", a folder, padded with spaces.
bool DotEntry(const unsigned char* e, int dots) {
  for (int i = 0; i < 11; ++i) {
    if (e[i] != (i < dots ? '.' : ' ')) return false;
  }
  return (e[11] & kDirectory) != 0 && SoundShortEntry(e);
}

std::uint8_t ShortNameChecksum(const unsigned char* e) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) != 0 ? 0x80 : 0) + (sum >> 1) + e[i]);
  return sum;
}

// A part of an 8.3 name, without its padding. Its case bit asks for lower
// case, which Windows applies through the code page: to the capitals of
// Latin-1 too (CAF\x90 with the bit is "café").
void AppendShortPart(std::string& out, const unsigned char* bytes, int n, bool lower) {
  while (n > 0 && bytes[n - 1] == ' ') --n;
  for (int i = 0; i < n; ++i) {
    std::uint32_t code = bytes[i] < 0x80 ? bytes[i] : kCp437[bytes[i] - 0x80];
    if (lower && ((code >= 'A' && code <= 'Z') || (code >= 0xC0 && code <= 0xDE && code != 0xD7))) code += 0x20;
    AppendUtf8(out, code);
  }
}

std::string ShortName(const unsigned char* e) {
  unsigned char base[8];
  std::memcpy(base, e, 8);
  if (base[0] == kKanjiLead) base[0] = kDeleted;
  std::string name;
  AppendShortPart(name, base, 8, (e[12] & kLowerBase) != 0);
  std::string extension;
  AppendShortPart(extension, e + 8, 3, (e[12] & kLowerExtension) != 0);
  if (!extension.empty()) name += '.' + extension;
  return name;
}

// The long name being gathered from its entries, last part first.
class LongName {
 public:
  bool Pending() const { return total_ != 0; }
  void Drop() { total_ = 0; }
  // Takes one long-name entry; false when it does not follow the ones before
  // (an orphan: what was gathered is dropped, as Windows drops it).
  bool Take(const unsigned char* e) {
    const std::size_t sequence = e[0] & 0x1F;
    if ((e[0] & kLastLongPart) != 0) {
      const bool orphaned = Pending();
      total_ = sequence;
      next_ = sequence;
      checksum_ = e[13];
      if (orphaned) {
        Place(e, sequence);
        return false;
      }
    } else if (!Pending() || sequence != next_ || e[13] != checksum_) {
      Drop();
      return false;
    }
    Place(e, sequence);
    return true;
  }
  // The whole long name of the 8.3 entry `e`, or false when what was gathered
  // is not all of one, or not this entry's.
  bool Finish(const unsigned char* e, std::string& name) {
    const bool whole = Pending() && next_ == 0 && checksum_ == ShortNameChecksum(e);
    std::size_t n = 0;
    const std::size_t most = total_ * kUnitsPerLongEntry < kMostNameUnits ? total_ * kUnitsPerLongEntry : kMostNameUnits;
    while (whole && n < most && units_[n] != 0) ++n;
    Drop();
    if (n == 0) return false;
    name.clear();
    AppendUtf16(name, units_, n);
    return true;
  }

 private:
  void Place(const unsigned char* e, std::size_t sequence) {
    static constexpr int kOffsets[kUnitsPerLongEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t k = 0; k < kUnitsPerLongEntry; ++k) {
      units_[(sequence - 1) * kUnitsPerLongEntry + k] = static_cast<std::uint16_t>(Le(e + kOffsets[k], 2));
    }
    next_ = sequence - 1;
  }

  std::size_t total_ = 0;
  std::size_t next_ = 0;
  std::uint8_t checksum_ = 0;
  std::uint16_t units_[kMostLongEntries * kUnitsPerLongEntry] = {};
};

bool LongNameEntry(const unsigned char* e) {
  const unsigned sequence = e[0] & 0x1F;
  return e[11] == kLongNameAttributes && e[12] == 0 && Le(e + 26, 2) == 0 && (e[0] & 0xA0) == 0 && sequence >= 1 &&
         sequence <= kMostLongEntries;
}

}  // namespace

std::optional<FolderRecords> ReadFat(EntrySource& source, std::uint64_t offset, Reading reading) {
  FolderRecords records;
  records.system = FileSystem::kFat;
  records.offset = offset;
  const bool probe = reading == Reading::kProbe;
  // A probe asks the whole first sector to be records.
  const std::uint64_t end =
      probe && source.End() - offset > formats::kSectorSize ? offset + formats::kSectorSize : source.End();
  std::uint64_t at = offset;
  const unsigned char* dot = source.Get(at, 2 * kEntrySize);
  if (dot != nullptr && DotEntry(dot, 1)) {
    if (!DotEntry(dot + kEntrySize, 2)) return std::nullopt;
    records.hasDotEntries = true;
    records.selfCluster = FirstCluster(dot);
    records.parentCluster = FirstCluster(dot + kEntrySize);
    at += 2 * kEntrySize;
  }
  LongName longName;
  bool stopped = false;
  for (; records.entries.size() < kMaxEntries && at + kEntrySize <= end; at += kEntrySize) {
    const unsigned char* e = source.Get(at, kEntrySize);
    if (e == nullptr) break;
    if (e[0] == 0) {
      records.ended = true;
      break;
    }
    if (e[0] == kDeleted) {
      // A deleted file's long name is deleted with it.
      if (probe && longName.Pending()) return std::nullopt;
      longName.Drop();
      continue;
    }
    if (e[11] == kLongNameAttributes) {
      if (!LongNameEntry(e)) {
        stopped = true;
        break;
      }
      if (!longName.Take(e) && probe) return std::nullopt;
      continue;
    }
    const bool label = (e[11] & (kVolumeLabel | kDirectory)) == kVolumeLabel;
    if (!(label ? e[0] >= 0x20 : ShortNameBytes(e)) || !SoundShortEntry(e)) {
      stopped = true;
      break;
    }
    FolderEntry entry;
    const bool hadLongName = longName.Pending();
    const bool named = longName.Finish(e, entry.name);
    if (probe && hadLongName && !named) return std::nullopt;
    if (label) continue;
    if (!named) entry.name = ShortName(e);
    entry.isFolder = (e[11] & kDirectory) != 0;
    entry.firstCluster = FirstCluster(e);
    entry.size = entry.isFolder ? 0 : Le(e + 28, 4);
    entry.validSize = entry.size;
    entry.recordOffset = at;
    records.entries.push_back(std::move(entry));
  }
  if (records.entries.empty() && !records.hasDotEntries) return std::nullopt;
  if (probe && (stopped || (longName.Pending() && records.ended))) return std::nullopt;
  records.length = RecordsLength(offset, at, records.ended, source.End());
  return records;
}

}  // namespace tessaro::folders
