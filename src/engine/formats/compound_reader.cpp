// The chains of an OLE2 compound file, read for the checker and the title
// reader alike. The checker has proved every FAT sector whole before it walks
// a chain; the title reader reads only what its one stream needs, so a FAT
// sector is read as far as the fragment holds it and an entry counts when it
// lies in what was read.

#include "engine/formats/compound_reader.h"

#include <algorithm>
#include <cstring>

namespace tessaro::formats {

namespace {

// Enough for a 4 MiB chain of 512-byte sectors: the mini stream and the
// tables of any real document are far smaller.
constexpr std::uint32_t kMaxSteps = 8192;

}  // namespace

CompoundFile::Opened CompoundFile::Open() {
  static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (!f_.Read(0, raw_, sizeof raw_)) return Opened::kCut;
  if (std::memcmp(raw_, kMagic, 8) != 0) return Opened::kNoSignature;
  header_.major = Le16(raw_ + 0x1A);
  header_.byteOrder = Le16(raw_ + 0x1C);
  header_.shift = Le16(raw_ + 0x1E);
  header_.miniShift = Le16(raw_ + 0x20);
  header_.fatCount = Le32(raw_ + 0x2C);
  header_.directory = Le32(raw_ + 0x30);
  header_.cutoff = Le32(raw_ + 0x38);
  header_.miniFat = Le32(raw_ + 0x3C);
  header_.miniFatCount = Le32(raw_ + 0x40);
  header_.difat = Le32(raw_ + 0x44);
  header_.difatCount = Le32(raw_ + 0x48);
  if (header_.shift == 9 || header_.shift == 12) {
    shift_ = header_.shift;
    size_ = 1u << shift_;
    perSector_ = size_ / 4;
  }
  return Opened::kOk;
}

std::uint32_t CompoundFile::ListedFatSector(std::uint32_t index) const { return Le32(raw_ + 0x4C + 4 * index); }

void CompoundFile::KnowFatSector(std::uint32_t index, std::uint32_t sector) {
  fat_[index] = sector;
  known_ = std::max(known_, index + 1);
}

bool CompoundFile::FatSector(std::uint32_t index, std::uint32_t& sector) {
  if (index < known_) {
    sector = fat_[index];
    return true;
  }
  if (index < 109) {
    sector = ListedFatSector(index);
    return sector < kCompoundLastSector;
  }
  index -= 109;
  std::uint32_t difat = header_.difat;
  const std::uint32_t per = perSector_ - 1;  // the last entry links to the next
  unsigned char v[4];
  for (std::uint32_t k = 0; k < index / per; ++k) {
    if (difat >= kCompoundLastSector || k > kMaxSteps || !f_.Read(Offset(difat) + 4ull * per, v, 4)) return false;
    difat = Le32(v);
  }
  if (difat >= kCompoundLastSector || !f_.Read(Offset(difat) + 4ull * (index % per), v, 4)) return false;
  sector = Le32(v);
  return sector < kCompoundLastSector;
}

bool CompoundFile::Next(std::uint32_t sector, std::uint32_t& next) {
  std::uint32_t fat = 0;
  if (!FatSector(sector / perSector_, fat)) return false;
  if (fat != cachedSector_) {
    cachedBytes_ = f_.ReadSome(Offset(fat), table_, size_);
    cachedSector_ = fat;
  }
  const std::size_t at = 4 * static_cast<std::size_t>(sector % perSector_);
  if (at + 4 > cachedBytes_) return false;
  next = Le32(table_ + at);
  return true;
}

bool CompoundFile::ChainLength(std::uint64_t entries, std::uint32_t start, std::uint64_t& length, std::string& why) {
  std::uint64_t count = 0;
  for (std::uint32_t s = start; s != kCompoundEndOfChain;) {
    if (s >= entries) {
      why = "a chain leaves the allocation table at sector " + std::to_string(s);
      return false;
    }
    if (++steps_ > entries) {
      why = "chains loop or share sectors";
      return false;
    }
    ++count;
    if (!Next(s, s)) {
      why = "read";
      return false;
    }
  }
  length = count;
  return true;
}

CompoundEntry CompoundFile::Entry(const unsigned char* e, std::uint32_t sectorSize) {
  CompoundEntry entry;
  entry.nameBytes = Le16(e + 64);
  entry.type = e[66];
  entry.start = Le32(e + 116);
  entry.size = sectorSize == 512 ? Le32(e + 120) : Le64(e + 120);
  return entry;
}

bool CompoundFile::ReadStream(std::uint32_t start, std::uint64_t size, bool mini, std::size_t maxBytes,
                              std::string& out) {
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, maxBytes));
  out.clear();
  std::uint32_t sector = start;
  const std::uint32_t unit = mini ? 64 : size_;
  unsigned char piece[4096];
  for (std::uint32_t steps = 0; out.size() < want; ++steps) {
    if (sector >= kCompoundLastSector || steps > kMaxSteps) return false;
    const std::size_t n = std::min<std::size_t>(unit, want - out.size());
    std::uint64_t at = Offset(sector);
    if (mini && !MiniOffset(sector, at)) return false;
    if (!f_.Read(at, piece, n)) return false;
    out.append(reinterpret_cast<const char*>(piece), n);
    if (!(mini ? NextMini(sector, sector) : Next(sector, sector))) return false;
  }
  return true;
}

bool CompoundFile::FindStream(std::u16string_view name, std::uint32_t& start, std::uint64_t& size) {
  std::uint32_t sector = header_.directory;
  for (int steps = 0; steps < 4096 && sector < kCompoundLastSector; ++steps) {
    for (std::uint32_t i = 0; i < size_ / 128; ++i) {
      unsigned char e[128];
      if (!f_.Read(Offset(sector) + 128ull * i, e, sizeof e)) return false;
      const CompoundEntry entry = Entry(e, 512);  // the title reader takes 32-bit sizes
      if (steps == 0 && i == 0) {
        if (entry.type != 5) return false;  // the root comes first
        miniStart_ = rootSector_ = entry.start;
        continue;
      }
      if (entry.type != 2 || entry.nameBytes != (name.size() + 1) * 2) continue;
      bool same = true;
      for (std::size_t k = 0; k < name.size() && same; ++k) same = Le16(e + 2 * k) == name[k];
      if (same) {
        start = entry.start;
        size = entry.size;
        return true;
      }
    }
    if (!Next(sector, sector)) return false;
  }
  return false;
}

// The next mini sector after `mini`: its entry in the mini FAT, a stream of
// ordinary sectors.
bool CompoundFile::NextMini(std::uint32_t mini, std::uint32_t& next) {
  std::uint32_t sector = header_.miniFat;
  for (std::uint32_t k = 0; k < mini / perSector_; ++k) {
    if (sector >= kCompoundLastSector || k > kMaxSteps || !Next(sector, sector)) return false;
  }
  unsigned char v[4];
  if (sector >= kCompoundLastSector || !f_.Read(Offset(sector) + 4ull * (mini % perSector_), v, 4)) return false;
  next = Le32(v);
  return true;
}

// Where mini sector `mini` lies: 64-byte units of the root's stream. The
// walk down the root's chain goes on from where the last one stopped, as a
// stream's mini sectors mostly follow each other.
bool CompoundFile::MiniOffset(std::uint32_t mini, std::uint64_t& at) {
  const std::uint64_t offset = std::uint64_t{mini} * 64;
  const std::uint64_t index = offset >> shift_;
  if (index < rootIndex_) {
    rootIndex_ = 0;
    rootSector_ = miniStart_;
  }
  for (std::uint32_t steps = 0; rootIndex_ < index; ++steps, ++rootIndex_) {
    if (rootSector_ >= kCompoundLastSector || steps > kMaxSteps || !Next(rootSector_, rootSector_)) return false;
  }
  if (rootSector_ >= kCompoundLastSector) return false;
  at = Offset(rootSector_) + (offset & (size_ - 1));
  return true;
}

}  // namespace tessaro::formats
