#pragma once
// OLE2 compound files (.doc .xls .ppt .msi): a 512-byte header, then sectors
// of 512 or 4096 bytes chained through a file allocation table (FAT) whose
// own sectors the header and the DIFAT chain list; small streams live in
// 64-byte mini sectors inside the root entry's stream, chained through the
// mini FAT. The compound file checker walks every chain with it; the title
// reader follows one stream's chain to its summary information.
//
// Every walk is bounded: a hostile file's chains may loop.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

inline constexpr std::uint32_t kCompoundFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kCompoundEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kCompoundDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kCompoundLastSector = 0xFFFFFFFA;  // values from here on end a chain
// The FAT sectors a file may have for the checker: those the header lists
// and 8192 more from the DIFAT chain (a file of 4 GiB in 512-byte sectors).
inline constexpr std::uint32_t kCompoundMaxFatSectors = 109 + 8192;

struct CompoundHeader {
  std::uint16_t major = 0, byteOrder = 0, shift = 0, miniShift = 0;
  std::uint32_t fatCount = 0;
  std::uint32_t directory = 0;  // the directory's first sector
  std::uint32_t cutoff = 0;     // streams smaller than this live in the mini stream
  std::uint32_t miniFat = 0, miniFatCount = 0;
  std::uint32_t difat = 0, difatCount = 0;
};

// One 128-byte directory entry.
struct CompoundEntry {
  unsigned type = 0;  // 2 a stream, 5 the root
  std::uint16_t nameBytes = 0;
  std::uint32_t start = 0;  // its first sector (mini sector for a small stream)
  std::uint64_t size = 0;   // 32 bits in files of 512-byte sectors
};

class CompoundFile {
 public:
  explicit CompoundFile(Fragment& f) : f_(f) {}

  enum class Opened : std::uint8_t { kOk, kCut, kNoSignature };
  // Reads the header. The sector size is taken only when the shift is 9 or
  // 12; the callers judge the rest of the header each by their own needs.
  Opened Open();
  const CompoundHeader& Header() const { return header_; }
  std::uint32_t SectorSize() const { return size_; }
  std::uint32_t PerSector() const { return perSector_; }  // FAT entries in a sector
  std::uint64_t Offset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) << shift_; }

  // FAT sector `index` as the header lists it (index below 109).
  std::uint32_t ListedFatSector(std::uint32_t index) const;
  // Records where FAT sector `index` lies, for the checker, which reads the
  // DIFAT chain whole; FatSector then looks no further.
  void KnowFatSector(std::uint32_t index, std::uint32_t sector);
  // Where FAT sector `index` lies: known, listed in the header, or found
  // down the DIFAT chain; false past the chain's end or the fragment's.
  bool FatSector(std::uint32_t index, std::uint32_t& sector);
  // The FAT entry of `sector`: the next sector of its chain.
  bool Next(std::uint32_t sector, std::uint32_t& next);

  // The length in sectors of the chain from `start` in a FAT of `entries`
  // entries, walked with one budget of `entries` steps across all calls, so
  // that chains that loop or share sectors are caught; else why in `why`
  // ("read" when the fragment lacks a FAT sector).
  bool ChainLength(std::uint64_t entries, std::uint32_t start, std::uint64_t& length, std::string& why);

  static CompoundEntry Entry(const unsigned char* e, std::uint32_t sectorSize);

  // The first `size` bytes of the stream from `start`, at most `maxBytes`,
  // in sectors or (`mini`) mini sectors; false when its chain breaks before.
  bool ReadStream(std::uint32_t start, std::uint64_t size, bool mini, std::size_t maxBytes, std::string& out);
  // The stream named `name` (UTF-16 in the file) in the directory: its start
  // and size. Also finds the root's mini stream for ReadStream.
  bool FindStream(std::u16string_view name, std::uint32_t& start, std::uint64_t& size);

 private:
  bool NextMini(std::uint32_t mini, std::uint32_t& next);
  bool MiniOffset(std::uint32_t mini, std::uint64_t& at);

  Fragment& f_;
  unsigned char raw_[512] = {};
  CompoundHeader header_;
  unsigned shift_ = 9;
  std::uint32_t size_ = 512;
  std::uint32_t perSector_ = 128;
  std::uint32_t known_ = 0;  // FAT sectors whose place KnowFatSector gave
  std::uint32_t fat_[kCompoundMaxFatSectors] = {};
  std::uint32_t cachedSector_ = kCompoundFree;  // the FAT sector `table_` holds
  std::size_t cachedBytes_ = 0;
  unsigned char table_[4096] = {};
  std::uint64_t steps_ = 0;  // ChainLength's budget spent
  std::uint32_t miniStart_ = kCompoundLastSector;
  std::uint64_t rootIndex_ = 0;
  std::uint32_t rootSector_ = kCompoundLastSector;
};

}  // namespace tessaro::formats
