// OLE2 compound files (.doc .xls .ppt .msi): a header, then sectors of 512
// or 4096 bytes, chained through a file allocation table (FAT) whose own
// sectors the header and the DIFAT sectors list. The file ends after the
// highest sector the FAT has in use; the header takes the place of one sector.
// Every chain (directory, mini FAT, each large stream) is walked: a chain that
// leaves the table, loops, shares sectors with another or has the wrong length
// for its stream is damage.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::size_t kMaxFatSectors = 109 + 8192;

struct Compound {
  Fragment& f;
  std::uint32_t sectorSize = 512;
  std::uint32_t perSector = 128;           // FAT entries in a sector
  std::uint32_t fatCount = 0;
  std::uint32_t fat[kMaxFatSectors] = {};  // where each FAT sector lies
  std::uint64_t entries = 0;               // FAT entries in all
  std::uint64_t steps = 0;                 // sectors walked in all chains
  std::uint32_t cached = kFree;            // which FAT sector `table` holds
  unsigned char table[4096] = {};

  explicit Compound(Fragment& fragment) : f(fragment) {}

  std::uint64_t Offset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) * sectorSize; }

  // The FAT entry of `sector`; false when its FAT sector is not in the fragment.
  bool Next(std::uint32_t sector, std::uint32_t* next) {
    const std::uint32_t index = sector / perSector;
    if (index != cached) {
      if (!f.Read(Offset(fat[index]), table, sectorSize)) return false;
      cached = index;
    }
    *next = Le32(table + (sector % perSector) * 4);
    return true;
  }

  // Walks a chain from `start`; its length in sectors, or an error in `why`.
  bool Walk(std::uint32_t start, std::uint64_t* length, std::string* why) {
    std::uint64_t count = 0;
    for (std::uint32_t s = start; s != kEndOfChain;) {
      if (s >= entries) {
        *why = "a chain leaves the allocation table at sector " + std::to_string(s);
        return false;
      }
      if (++steps > entries) {
        *why = "chains loop or share sectors";
        return false;
      }
      ++count;
      if (!Next(s, &s)) {
        *why = "read";
        return false;
      }
    }
    *length = count;
    return true;
  }
};

}  // namespace

CheckResult CheckCompound(Fragment& f, const CheckOptions&) {
  static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  unsigned char h[512];
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, kMagic, 8) != 0) return Damaged("no compound file signature");
  const std::uint16_t major = Le16(h + 0x1A);
  const std::uint16_t shift = Le16(h + 0x1E);
  if (Le16(h + 0x1C) != 0xFFFE || Le16(h + 0x20) != 6 || !((major == 3 && shift == 9) || (major == 4 && shift == 12))) {
    return Damaged("impossible header (version, byte order or sector size)");
  }
  auto c = std::make_unique<Compound>(f);
  c->sectorSize = 1u << shift;
  c->perSector = c->sectorSize / 4;
  const std::uint32_t fatCount = Le32(h + 0x2C);
  const std::uint32_t directory = Le32(h + 0x30);
  const std::uint32_t cutoff = Le32(h + 0x38);
  const std::uint32_t miniFat = Le32(h + 0x3C);
  const std::uint32_t miniFatCount = Le32(h + 0x40);
  std::uint32_t difat = Le32(h + 0x44);
  const std::uint32_t difatCount = Le32(h + 0x48);
  if (fatCount == 0 || fatCount > 109 + std::uint64_t{difatCount} * (c->perSector - 1)) {
    return Damaged("impossible count of FAT sectors");
  }
  if (fatCount > kMaxFatSectors) return Unchecked("too large to check");
  c->fatCount = fatCount;
  c->entries = std::uint64_t{fatCount} * c->perSector;
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatCount, 109); ++i) c->fat[i] = Le32(h + 0x4C + 4 * i);
  std::uint32_t listed = std::min<std::uint32_t>(fatCount, 109);
  std::uint64_t highest = 0;  // one past the highest sector in use
  for (std::uint32_t k = 0; listed < fatCount; ++k) {
    if (k >= difatCount || difat >= c->entries) return Damaged("the DIFAT chain breaks off");
    if (!f.Read(c->Offset(difat), c->table, c->sectorSize)) {
      return Truncated(kUnknown, "ends before DIFAT sector " + std::to_string(difat));
    }
    highest = std::max<std::uint64_t>(highest, difat + 1ull);
    for (std::uint32_t i = 0; i + 1 < c->perSector && listed < fatCount; ++i) c->fat[listed++] = Le32(c->table + 4 * i);
    difat = Le32(c->table + c->sectorSize - 4);
  }
  // Every FAT entry is a sector of the table or a mark; the highest one in
  // use sets the end.
  for (std::uint32_t i = 0; i < fatCount; ++i) {
    if (c->fat[i] >= c->entries) return Damaged("FAT sector " + std::to_string(c->fat[i]) + " lies outside the table");
    if (!f.Read(c->Offset(c->fat[i]), c->table, c->sectorSize)) {
      if (f.Failed()) return Unchecked("a read failed");
      return Truncated(kUnknown, "ends before FAT sector " + std::to_string(c->fat[i]));
    }
    c->cached = i;
    for (std::uint32_t j = 0; j < c->perSector; ++j) {
      const std::uint32_t e = Le32(c->table + 4 * j);
      if (e == kFree) continue;
      if (e < kDifatSector && e >= c->entries) {
        return Damaged("FAT entry of sector " + std::to_string(std::uint64_t{i} * c->perSector + j) +
                       " points outside the table");
      }
      highest = std::max<std::uint64_t>(highest, std::uint64_t{i} * c->perSector + j + 1);
    }
  }
  const std::uint64_t end = (highest + 1) * c->sectorSize;
  std::string why;
  std::uint64_t length = 0;
  // The directory: its chain, then every large stream's chain against the
  // stream's size, and the mini FAT's.
  if (!c->Walk(directory, &length, &why)) return why == "read" ? Truncated(end, "ends inside the directory") : Damaged(why);
  if (!c->Walk(miniFat, &length, &why)) {
    return why == "read" ? Truncated(end, "ends inside the mini FAT") : Damaged(why);
  }
  if (miniFatCount != 0 && length != miniFatCount) return Damaged("the mini FAT chain has the wrong length");
  std::uint64_t streams = 0;
  const std::uint64_t directorySectors = std::min<std::uint64_t>(c->entries, f.Size() / c->sectorSize);
  std::uint32_t sector = directory;
  for (std::uint64_t k = 0; sector != kEndOfChain && k < directorySectors; ++k) {
    unsigned char d[4096];
    if (!f.Read(c->Offset(sector), d, c->sectorSize)) return Truncated(end, "ends inside the directory");
    for (std::uint32_t e = 0; e < c->sectorSize / 128; ++e) {
      const unsigned char* entry = d + e * 128;
      const unsigned char type = entry[66];
      if (k == 0 && e == 0 && type != 5) return Damaged("the directory does not begin with its root");
      if (type != 2 && type != 5) continue;
      const std::uint64_t size = c->sectorSize == 512 ? Le32(entry + 120) : Le64(entry + 120);
      if (type == 2 && size < cutoff) continue;  // lies in the mini stream
      std::uint64_t sectors = 0;
      if (size == 0) continue;
      if (!c->Walk(Le32(entry + 116), &sectors, &why)) {
        return why == "read" ? Truncated(end, "ends inside the allocation table") : Damaged(why);
      }
      if (sectors != (size + c->sectorSize - 1) / c->sectorSize) {
        return Damaged("a stream's chain does not match its size");
      }
      ++streams;
    }
    if (!c->Next(sector, &sector)) return Truncated(end, "ends inside the allocation table");
  }
  if (f.Failed()) return Unchecked("a read failed");
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(fatCount) + " FAT sectors, " + std::to_string(streams) +
                         " large streams, every chain whole; " + std::to_string(highest) + " sectors in use");
}

extern const FormatRow kMsiRow{.extensions = {"msi"}, .checker = CheckCompound};
extern const FormatRow kCompoundRow{
    .extensions = {"doc", "xls", "ppt"},
    .checker = CheckCompound,
    .nameReader = names::CompoundTitle
};

}  // namespace tessaro::formats
