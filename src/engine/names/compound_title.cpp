// The title of an OLE2 compound file (Word, Excel and PowerPoint 97-2003):
// property 2 of the "\x05SummaryInformation" stream, in the code page that
// property 1 names. The file is a little FAT file system of its own; every
// chain it holds is walked with a bound, since a hostile one may loop.

#include <cstring>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Le16;
using formats::Le32;

constexpr std::uint32_t kLastSector = 0xFFFFFFFA;  // values from here on end a chain
// Enough for a 4 MiB chain of 512-byte sectors: the mini stream and the
// tables of any real document are far smaller.
constexpr std::uint32_t kMaxSteps = 8192;

class Compound {
 public:
  explicit Compound(Fragment& f) : f_(f) {}

  bool Open() {
    static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (!f_.Read(0, header_, sizeof header_) || std::memcmp(header_, kMagic, 8) != 0) return false;
    shift_ = Le16(header_ + 0x1E);
    if (shift_ != 9 && shift_ != 12) return false;
    size_ = 1u << shift_;
    perSector_ = size_ / 4;
    return Le16(header_ + 0x20) == 6 && Le32(header_ + 0x38) == 4096;  // mini sectors of 64 bytes
  }

  // The stream's first `want` bytes (at most kMetadataBytes); false when its
  // chain breaks before them.
  bool ReadStream(std::uint32_t start, std::uint64_t size, bool mini, std::string& out) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, kMetadataBytes));
    out.clear();
    std::uint32_t sector = start;
    const std::uint32_t unit = mini ? 64 : size_;
    for (std::uint32_t steps = 0; out.size() < want; ++steps) {
      if (sector >= kLastSector || steps > kMaxSteps) return false;
      const std::size_t n = std::min<std::size_t>(unit, want - out.size());
      std::uint64_t at = Offset(sector);
      if (mini && !MiniOffset(sector, at)) return false;
      std::string piece;
      if (!ReadExact(f_, at, n, piece)) return false;
      out += piece;
      if (!(mini ? Follow(firstMiniFat_, sector, sector) : Next(sector, sector))) return false;
    }
    return true;
  }

  // Finds the directory entry named `name` (UTF-16 in the file); its start
  // sector and size. Also keeps the root's mini stream.
  bool FindStream(std::u16string_view name, std::uint32_t& start, std::uint64_t& size) {
    firstMiniFat_ = Le32(header_ + 0x3C);
    std::uint32_t sector = Le32(header_ + 0x30);
    for (int steps = 0; steps < 4096 && sector < kLastSector; ++steps) {
      for (std::uint32_t i = 0; i < size_ / 128; ++i) {
        unsigned char e[128];
        if (!f_.Read(Offset(sector) + 128ull * i, e, sizeof e)) return false;
        const std::uint16_t bytes = Le16(e + 64);
        if (steps == 0 && i == 0) {
          if (e[66] != 5) return false;  // the root comes first
          miniStart_ = rootSector_ = Le32(e + 116);
          continue;
        }
        if (e[66] != 2 || bytes != (name.size() + 1) * 2) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) same = Le16(e + 2 * k) == name[k];
        if (same) {
          start = Le32(e + 116);
          size = Le32(e + 120);
          return true;
        }
      }
      if (!Next(sector, sector)) return false;
    }
    return false;
  }

  // Streams below the cutoff, which is always 4096, live in the mini stream.
  static bool IsMini(std::uint64_t size) { return size < 4096; }

 private:
  std::uint64_t Offset(std::uint32_t sector) const { return (std::uint64_t{sector} + 1) << shift_; }

  // The sector number of FAT sector `index`: the first 109 are listed in the
  // header, the rest in the DIFAT chain.
  bool FatSector(std::uint32_t index, std::uint32_t& sector) {
    if (index < 109) {
      sector = Le32(header_ + 0x4C + 4 * index);
      return sector < kLastSector;
    }
    index -= 109;
    std::uint32_t difat = Le32(header_ + 0x44);
    const std::uint32_t per = perSector_ - 1;  // the last entry links to the next
    unsigned char v[4];
    for (std::uint32_t k = 0; k < index / per; ++k) {
      if (difat >= kLastSector || k > kMaxSteps || !f_.Read(Offset(difat) + 4ull * per, v, 4)) return false;
      difat = Le32(v);
    }
    if (difat >= kLastSector || !f_.Read(Offset(difat) + 4ull * (index % per), v, 4)) return false;
    sector = Le32(v);
    return sector < kLastSector;
  }

  bool Next(std::uint32_t sector, std::uint32_t& next) {
    std::uint32_t fat = 0;
    unsigned char v[4];
    if (!FatSector(sector / perSector_, fat) || !f_.Read(Offset(fat) + 4ull * (sector % perSector_), v, 4))
      return false;
    next = Le32(v);
    return true;
  }

  // The next mini sector after `mini`: its entry in the mini FAT, a stream
  // that starts at `miniFat`.
  bool Follow(std::uint32_t miniFat, std::uint32_t mini, std::uint32_t& next) {
    std::uint32_t sector = miniFat;
    for (std::uint32_t k = 0; k < mini / perSector_; ++k) {
      if (sector >= kLastSector || k > kMaxSteps || !Next(sector, sector)) return false;
    }
    unsigned char v[4];
    if (sector >= kLastSector || !f_.Read(Offset(sector) + 4ull * (mini % perSector_), v, 4)) return false;
    next = Le32(v);
    return true;
  }

  // Where mini sector `mini` lies: 64-byte units of the root's stream. The
  // walk down the root's chain goes on from where the last one stopped, as
  // a stream's mini sectors mostly follow each other.
  bool MiniOffset(std::uint32_t mini, std::uint64_t& at) {
    const std::uint64_t offset = std::uint64_t{mini} * 64;
    const std::uint64_t index = offset >> shift_;
    if (index < rootIndex_) {
      rootIndex_ = 0;
      rootSector_ = miniStart_;
    }
    for (std::uint32_t steps = 0; rootIndex_ < index; ++steps, ++rootIndex_) {
      if (rootSector_ >= kLastSector || steps > kMaxSteps || !Next(rootSector_, rootSector_)) return false;
    }
    if (rootSector_ >= kLastSector) return false;
    at = Offset(rootSector_) + (offset & (size_ - 1));
    return true;
  }

  Fragment& f_;
  unsigned char header_[512] = {};
  unsigned shift_ = 9;
  std::uint32_t size_ = 512;
  std::uint32_t perSector_ = 128;
  std::uint32_t firstMiniFat_ = kLastSector;
  std::uint32_t miniStart_ = kLastSector;
  std::uint64_t rootIndex_ = 0;
  std::uint32_t rootSector_ = kLastSector;
};

// Text in the property set's code page, as UTF-8. Code pages other than
// these are taken only when the text is plain ASCII, which they all share.
std::string FromCodePage(std::string_view bytes, int codePage) {
  switch (codePage) {
    case 1200: return Utf16ToUtf8(bytes, false);
    case 65001: return IsUtf8(bytes) ? std::string(bytes) : std::string();
    case 1252: return Cp1252ToUtf8(bytes);
    case 28591: return Latin1ToUtf8(bytes);
    default: break;
  }
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
  }
  return std::string(bytes);
}

std::string SummaryTitle(std::string_view stream) {
  static const unsigned char kSummary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  const auto* p = reinterpret_cast<const unsigned char*>(stream.data());
  if (stream.size() < 48 || Le16(p) != 0xFFFE || std::memcmp(p + 28, kSummary, 16) != 0) return {};
  const std::uint32_t section = Le32(p + 44);
  if (section > stream.size() - 8) return {};
  const std::uint32_t count = Le32(p + section + 4);
  int codePage = 1252;
  std::uint32_t titleAt = 0;
  for (std::uint32_t i = 0; i < count && i < 1024; ++i) {
    const std::uint64_t pair = section + 8ull + 8ull * i;
    if (pair + 8 > stream.size()) return {};
    const std::uint32_t id = Le32(p + pair);
    const std::uint64_t value = section + std::uint64_t{Le32(p + pair + 4)};
    if (value + 8 > stream.size()) continue;
    if (id == 1 && Le16(p + value) == 2) codePage = Le16(p + value + 4);
    if (id == 2) titleAt = static_cast<std::uint32_t>(value);
  }
  if (titleAt == 0) return {};
  const std::uint16_t type = Le16(p + titleAt);
  const std::uint64_t length = Le32(p + titleAt + 4);
  const std::string_view rest = stream.substr(titleAt + 8);
  if (type == 0x1F) {  // VT_LPWSTR: UTF-16 characters
    if (length * 2 > rest.size()) return {};
    const std::string wide = Utf16ToUtf8(rest.substr(0, length * 2), false);
    return std::string(UpToNul(wide));
  }
  if (type != 0x1E || length > rest.size()) return {};  // VT_LPSTR: bytes in the code page
  std::string_view text = rest.substr(0, length);
  if (codePage == 1200) {
    std::string wide = Utf16ToUtf8(text, false);
    return std::string(UpToNul(wide));
  }
  return FromCodePage(UpToNul(text), codePage);
}

}  // namespace

std::string CompoundTitle(Fragment& f, const CheckResult&) {
  Compound file(f);
  std::uint32_t start = 0;
  std::uint64_t size = 0;
  std::string stream;
  if (!file.Open() || !file.FindStream(u"\x05SummaryInformation", start, size) ||
      !file.ReadStream(start, size, file.IsMini(size), stream)) {
    return {};
  }
  return SummaryTitle(stream);
}

}  // namespace tessaro::names
