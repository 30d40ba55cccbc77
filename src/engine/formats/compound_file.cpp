// OLE2 compound files (.doc .xls .ppt .msi): a header, then sectors of 512
// or 4096 bytes, chained through a file allocation table (FAT) whose own
// sectors the header and the DIFAT sectors list. The file runs at least to the
// highest sector the FAT has in use or the header and the DIFAT list as FAT
// or DIFAT sectors (a writer may leave those marked free); the header takes
// the place of one sector. Sectors the FAT marks free after that are not
// kept: the writers measured (LibreOffice, msitools) end their files at the
// last sector in use while their FAT covers up to 127 sectors more, so zeros
// there are a cluster's slack far more often than a file's own.
// Every chain (directory, mini FAT, each large stream) is walked: a chain that
// leaves the table, loops, shares sectors with another or has the wrong length
// for its stream is damage.

#include <algorithm>
#include <memory>
#include <string>

#include "engine/formats/compound_reader.h"
#include "engine/formats/documents_parts.h"
#include "engine/formats/documents_write.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

CheckResult CheckCompound(Fragment& f, const CheckOptions& options) {
  // Word for DOS wrote .doc files long before Word kept them in a compound file.
  unsigned char head[6];
  if (f.Read(0, head, sizeof head) && IsWordForDos(head, sizeof head)) return CheckWrite(f, options);
  auto c = std::make_unique<CompoundFile>(f);
  const CompoundFile::Opened opened = c->Open();
  if (opened == CompoundFile::Opened::kCut) return Truncated(kUnknown, "ends inside the header");
  if (opened == CompoundFile::Opened::kNoSignature) return Damaged("no compound file signature");
  const CompoundHeader& h = c->Header();
  const std::uint16_t major = h.major;
  const std::uint16_t shift = h.shift;
  if (h.byteOrder != 0xFFFE || h.miniShift != 6 || !((major == 3 && shift == 9) || (major == 4 && shift == 12))) {
    return Damaged("impossible header (version, byte order or sector size)");
  }
  const std::uint32_t sectorSize = c->SectorSize();
  const std::uint32_t perSector = c->PerSector();
  const std::uint32_t fatCount = h.fatCount;
  std::uint32_t difat = h.difat;
  if (fatCount == 0 || fatCount > 109 + std::uint64_t{h.difatCount} * (perSector - 1)) {
    return Damaged("impossible count of FAT sectors");
  }
  if (fatCount > kCompoundMaxFatSectors) return Unchecked("too large to check");
  const std::uint64_t entries = std::uint64_t{fatCount} * perSector;
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(fatCount, 109); ++i) c->KnowFatSector(i, c->ListedFatSector(i));
  std::uint32_t listed = std::min<std::uint32_t>(fatCount, 109);
  std::uint64_t highest = 0;  // one past the highest sector in use
  unsigned char table[4096];
  for (std::uint32_t k = 0; listed < fatCount; ++k) {
    if (k >= h.difatCount || difat >= entries) return Damaged("the DIFAT chain breaks off");
    if (!f.Read(c->Offset(difat), table, sectorSize)) {
      return Truncated(kUnknown, "ends before DIFAT sector " + std::to_string(difat));
    }
    highest = std::max<std::uint64_t>(highest, difat + 1ull);
    for (std::uint32_t i = 0; i + 1 < perSector && listed < fatCount; ++i) c->KnowFatSector(listed++, Le32(table + 4 * i));
    difat = Le32(table + sectorSize - 4);
  }
  // Every FAT entry is a sector of the table or a mark; the highest one in
  // use sets the end.
  for (std::uint32_t i = 0; i < fatCount; ++i) {
    std::uint32_t fat = 0;
    c->FatSector(i, fat);  // known now, every one of them
    if (fat >= entries) return Damaged("FAT sector " + std::to_string(fat) + " lies outside the table");
    highest = std::max<std::uint64_t>(highest, fat + 1ull);
    if (!f.Read(c->Offset(fat), table, sectorSize)) {
      if (f.Failed()) return Unchecked("a read failed");
      return Truncated(kUnknown, "ends before FAT sector " + std::to_string(fat));
    }
    for (std::uint32_t j = 0; j < perSector; ++j) {
      const std::uint32_t e = Le32(table + 4 * j);
      if (e == kCompoundFree) continue;
      if (e < kCompoundDifatSector && e >= entries) {
        return Damaged("FAT entry of sector " + std::to_string(std::uint64_t{i} * perSector + j) +
                       " points outside the table");
      }
      highest = std::max<std::uint64_t>(highest, std::uint64_t{i} * perSector + j + 1);
    }
  }
  std::uint64_t end = (highest + 1) * sectorSize;
  std::string why;
  std::uint64_t length = 0;
  // The directory: its chain, then every large stream's chain against the
  // stream's size, and the mini FAT's.
  if (!c->ChainLength(entries, h.directory, length, why)) {
    return why == "read" ? Truncated(end, "ends inside the directory") : Damaged(why);
  }
  if (!c->ChainLength(entries, h.miniFat, length, why)) {
    return why == "read" ? Truncated(end, "ends inside the mini FAT") : Damaged(why);
  }
  if (h.miniFatCount != 0 && length != h.miniFatCount) return Damaged("the mini FAT chain has the wrong length");
  std::uint64_t streams = 0;
  const std::uint64_t directorySectors = std::min<std::uint64_t>(entries, f.Size() / sectorSize);
  std::uint32_t sector = h.directory;
  for (std::uint64_t k = 0; sector != kCompoundEndOfChain && k < directorySectors; ++k) {
    unsigned char d[4096];
    if (!f.Read(c->Offset(sector), d, sectorSize)) return Truncated(end, "ends inside the directory");
    for (std::uint32_t e = 0; e < sectorSize / 128; ++e) {
      const CompoundEntry entry = CompoundFile::Entry(d + e * 128, sectorSize);
      if (k == 0 && e == 0 && entry.type != 5) return Damaged("the directory does not begin with its root");
      if (entry.type != 2 && entry.type != 5) continue;
      if (entry.type == 2 && entry.size < h.cutoff) continue;  // lies in the mini stream
      std::uint64_t sectors = 0;
      if (entry.size == 0) continue;
      if (!c->ChainLength(entries, entry.start, sectors, why)) {
        return why == "read" ? Truncated(end, "ends inside the allocation table") : Damaged(why);
      }
      if (sectors != (entry.size + sectorSize - 1) / sectorSize) {
        return Damaged("a stream's chain does not match its size");
      }
      ++streams;
    }
    if (!c->Next(sector, sector)) return Truncated(end, "ends inside the allocation table");
  }
  if (f.Failed()) return Unchecked("a read failed");
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(fatCount) + " FAT sectors, " + std::to_string(streams) +
                         " large streams, every chain whole; " + std::to_string(highest) + " sectors in use");
}

extern const FormatRow kMsiRow{.extensions = {"msi", "msg", "vsd"}, .checker = CheckCompound};
extern const FormatRow kCompoundRow{
    .extensions = {"doc", "xls", "ppt"},
    .checker = CheckCompound,
    .nameReader = names::CompoundTitle
};

}  // namespace tessaro::formats
