// exFAT directory entries. A file or folder is an entry set: a file entry
// (0x85) that counts its secondaries and carries a checksum of the whole set,
// a stream extension (0xC0) with the sizes and the first cluster, then the
// name in entries of 15 UTF-16 units (0xC1), then any vendor entries. A
// deleted set keeps its bytes with the in-use bit (0x80) of each type clear.

#include <cstddef>
#include <cstdint>

#include "engine/folders/record_source.h"

namespace tessaro::folders {
namespace {

constexpr unsigned char kFileEntry = 0x85;
constexpr unsigned char kStreamEntry = 0xC0;
constexpr unsigned char kNameEntry = 0xC1;
constexpr unsigned char kInUse = 0x80;
constexpr std::uint16_t kDirectoryAttribute = 0x10;
constexpr std::uint8_t kNoFatChain = 0x02;
constexpr std::size_t kUnitsPerNameEntry = 15;
// The highest cluster a cluster heap may have: 0xFFFFFFF7 marks a bad
// cluster, and above it are the end-of-chain marks.
constexpr std::uint64_t kLastCluster = 0xFFFFFFF6;

// The types a volume writes, with the in-use bit set: the allocation bitmap,
// up-case table and label of the root, the file entry, the GUID and the two
// TexFAT entries, and the secondaries (stream, name, vendor extension and
// allocation). Deleted entries keep one of these with the bit clear.
bool KnownType(unsigned char type) {
  switch (type) {
    case 0x81: case 0x82: case 0x83: case 0x85: case 0xA0: case 0xA1: case 0xA2:
    case 0xC0: case 0xC1: case 0xE0: case 0xE1:
      return true;
    default:
      return false;
  }
}

// The set's checksum: every byte of every entry but the checksum's own two.
std::uint16_t SetChecksum(const unsigned char* set, std::size_t n) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

// The set that begins at `at` with its checksum right: its bytes, and its
// size in `n`; null when it runs past the end or its checksum is wrong.
const unsigned char* ChecksummedSet(EntrySource& source, std::uint64_t at, std::size_t& n) {
  const unsigned char* first = source.Get(at, kEntrySize);
  if (first == nullptr) return nullptr;
  n = (1 + static_cast<std::size_t>(first[1])) * kEntrySize;
  const unsigned char* set = source.Get(at, n);
  if (set == nullptr || Le(set + 2, 2) != SetChecksum(set, n)) return nullptr;
  return set;
}

// The name hash of the stream entry, over the up-cased name. The volume's
// up-case table is not at hand; for a name of ASCII alone, up-casing a-z is
// what every table does.
bool NameHashAgrees(const std::uint16_t* units, std::size_t n, std::uint16_t recorded) {
  std::uint16_t hash = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint16_t unit = units[i];
    if (unit >= 0x80) return true;  // cannot be told without the table
    if (unit >= 'a' && unit <= 'z') unit = static_cast<std::uint16_t>(unit - 'a' + 'A');
    hash = static_cast<std::uint16_t>(((hash & 1) != 0 ? 0x8000 : 0) + (hash >> 1) + (unit & 0xFF));
    hash = static_cast<std::uint16_t>(((hash & 1) != 0 ? 0x8000 : 0) + (hash >> 1) + (unit >> 8));
  }
  return hash == recorded;
}

// The file or folder of a checksummed set of `n` bytes, when the set is one
// a volume writes: a stream entry, then as many name entries as the name
// needs, then only vendor secondaries, with sizes and a cluster that agree.
bool ReadSet(const unsigned char* set, std::size_t n, FolderEntry& entry) {
  const std::size_t count = n / kEntrySize;
  if (count < 3) return false;
  const unsigned char* stream = set + kEntrySize;
  if (stream[0] != kStreamEntry) return false;
  const std::size_t nameLength = stream[3];
  const std::size_t nameEntries = (nameLength + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
  if (nameLength == 0 || 2 + nameEntries > count) return false;
  std::uint16_t units[255];
  for (std::size_t i = 0; i < nameEntries; ++i) {
    const unsigned char* name = set + (2 + i) * kEntrySize;
    if (name[0] != kNameEntry) return false;
    for (std::size_t k = 0; k < kUnitsPerNameEntry && i * kUnitsPerNameEntry + k < nameLength; ++k) {
      units[i * kUnitsPerNameEntry + k] = static_cast<std::uint16_t>(Le(name + 2 + 2 * k, 2));
    }
  }
  for (std::size_t i = 2 + nameEntries; i < count; ++i) {
    const unsigned char type = set[i * kEntrySize];
    // Only benign secondaries (vendor extension, vendor allocation) may follow.
    if ((type & 0xE0) != 0xE0) return false;
  }
  if (!NameHashAgrees(units, nameLength, static_cast<std::uint16_t>(Le(stream + 4, 2)))) return false;
  const std::uint64_t validSize = Le(stream + 8, 8);
  const std::uint64_t firstCluster = Le(stream + 20, 4);
  const std::uint64_t size = Le(stream + 24, 8);
  // Cluster 1 does not exist; clusters are numbered from 2. A set that
  // claims bytes with no cluster to hold them, or more valid bytes than it
  // has, was not written by a volume.
  if (firstCluster == 1 || firstCluster > kLastCluster) return false;
  if (firstCluster == 0 && size != 0) return false;
  if (validSize > size) return false;
  entry.name.clear();
  AppendUtf16(entry.name, units, nameLength);
  entry.isFolder = (Le(set + 4, 2) & kDirectoryAttribute) != 0;
  entry.firstCluster = firstCluster;
  entry.size = size;
  entry.validSize = validSize;
  entry.contiguous = (stream[1] & kNoFatChain) != 0;
  return true;
}

// A deleted set at `at` whose checksum is right once the in-use bit of each
// of its entries is set again: its file or folder, else false.
bool ReadDeletedSet(EntrySource& source, std::uint64_t at, std::size_t& n, FolderEntry& entry) {
  const unsigned char* first = source.Get(at, kEntrySize);
  if (first == nullptr || first[0] != (kFileEntry & ~kInUse)) return false;
  n = (1 + static_cast<std::size_t>(first[1])) * kEntrySize;
  const unsigned char* stored = source.Get(at, n);
  if (stored == nullptr) return false;
  unsigned char set[256 * kEntrySize];
  for (std::size_t i = 0; i < n; ++i) set[i] = stored[i];
  for (std::size_t i = 0; i < n; i += kEntrySize) {
    if ((set[i] & kInUse) != 0) return false;
    set[i] = static_cast<unsigned char>(set[i] | kInUse);
  }
  return Le(set + 2, 2) == SetChecksum(set, n) && ReadSet(set, n, entry);
}

}  // namespace

std::optional<FolderRecords> ReadExfat(EntrySource& source, std::uint64_t offset, Reading reading) {
  FolderRecords records;
  records.system = FileSystem::kExfat;
  records.offset = offset;
  std::uint64_t at = offset;
  while (records.entries.size() < kMaxEntries) {
    const unsigned char* entry = source.Get(at, kEntrySize);
    if (entry == nullptr) break;
    const unsigned char type = entry[0];
    if (type == 0) {
      records.ended = true;
      break;
    }
    if ((type & kInUse) == 0) {
      if (!KnownType(static_cast<unsigned char>(type | kInUse))) break;
      std::size_t n = kEntrySize;
      FolderEntry folder;
      if (ReadDeletedSet(source, at, n, folder) && folder.isFolder) {
        folder.recordOffset = at;
        records.deletedFolders.push_back(std::move(folder));
        if (reading == Reading::kProbe) return records;
        at += n;
        continue;
      }
      at += kEntrySize;
      continue;
    }
    std::size_t n = kEntrySize;
    if (type == kFileEntry) {
      const unsigned char* set = ChecksummedSet(source, at, n);
      FolderEntry file;
      if (set == nullptr || !ReadSet(set, n, file)) break;
      file.recordOffset = at;
      records.entries.push_back(std::move(file));
      if (reading == Reading::kProbe) return records;
    } else if (type >= 0xA0 && type <= 0xBF) {
      // A benign primary (volume GUID, TexFAT padding, ACL): a set of its own.
      if (ChecksummedSet(source, at, n) == nullptr) break;
    } else if (type == 0x81) {
      if (entry[1] > 1) break;  // the bitmap's flags: which of two FATs
    } else if (type == 0x83) {
      if (entry[1] > 11) break;  // a label has at most 11 characters
    } else if (type != 0x82) {
      break;
    }
    at += n;
  }
  if ((records.entries.empty() && records.deletedFolders.empty()) || reading == Reading::kProbe) return std::nullopt;
  records.length = RecordsLength(offset, at, records.ended, source.End());
  return records;
}

}  // namespace tessaro::folders
