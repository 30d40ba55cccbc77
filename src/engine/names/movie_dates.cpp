// Dates in ISO base media files (MP4, MOV, 3GP, M4A, HEIF): a film's
// creation time in moov/mvhd, and a HEIF photo's EXIF item, found through the
// meta box's item information (iinf) and item locations (iloc).

#include <cstring>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Be16;
using formats::Be32;
using formats::Be64;

struct Box {
  std::uint64_t start = 0;
  std::uint64_t body = 0;  // where the contents begin
  std::uint64_t end = 0;   // may lie past the fragment (a film's mdat)
  char type[5] = {};
};

// The box at `at` within [at, limit). False at anything that is no box
// header: a type that is not four printable characters, a size too small or
// past `limit` (zeros or older data in the slack end the walk so).
bool ReadBox(Fragment& f, std::uint64_t at, std::uint64_t limit, Box& box) {
  unsigned char h[16];
  if (at >= limit || !f.Read(at, h, 8)) return false;
  // iTunes names its tags with a leading "©" (0xA9).
  for (int i = 4; i < 8; ++i) {
    if ((h[i] < 0x20 || h[i] > 0x7E) && h[i] != 0xA9) return false;
  }
  std::uint64_t size = Be32(h);
  std::uint64_t header = 8;
  if (size == 1) {
    if (!f.Read(at + 8, h + 8, 8)) return false;
    size = Be64(h + 8);
    header = 16;
  } else if (size == 0) {
    size = limit - at;  // to the end of the file
  }
  if (size < header || size > limit - at) return false;
  box.start = at;
  box.body = at + header;
  box.end = at + size;
  std::memcpy(box.type, h + 4, 4);
  return true;
}

// The first box of `type` among the boxes in [from, limit).
bool FindBox(Fragment& f, std::uint64_t from, std::uint64_t limit, const char* type, Box& found) {
  Box box;
  for (int n = 0; n < 4096 && ReadBox(f, from, limit, box); ++n) {
    if (std::memcmp(box.type, type, 4) == 0) {
      found = box;
      return true;
    }
    from = box.end;
  }
  return false;
}

// Top-level boxes may declare sizes up to 2^64: a film's mdat runs far past a
// fragment that holds only its start, and moov may come after it.
constexpr std::uint64_t kAnySize = UINT64_MAX;

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// Reads big-endian numbers from a box held in memory; `ok` turns false at
// the first read past its end.
struct Cursor {
  std::string_view bytes;
  std::size_t at = 0;
  bool ok = true;
  std::uint64_t Take(std::size_t n) {
    if (n > 8 || n > bytes.size() - std::min(at, bytes.size())) {
      ok = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    at += n;
    return v;
  }
};

// The item ID of the "Exif" item in an iinf box's contents, or 0.
std::uint32_t ExifItem(std::string_view iinf) {
  Cursor c{iinf};
  const std::uint64_t version = c.Take(1);
  c.Take(3);
  const std::uint64_t count = c.Take(version == 0 ? 2 : 4);
  for (std::uint64_t i = 0; i < count && i < 4096 && c.ok; ++i) {
    const std::size_t start = c.at;
    const std::uint64_t size = c.Take(4);
    const std::uint64_t type = c.Take(4);
    if (!c.ok || size < 8 || size > iinf.size() - start) return 0;
    if (type == 0x696E6665) {  // "infe"
      Cursor e{iinf.substr(start + 8, size - 8)};
      const std::uint64_t infeVersion = e.Take(1);
      e.Take(3);
      if (infeVersion >= 2) {
        const std::uint64_t id = e.Take(infeVersion == 2 ? 2 : 4);
        e.Take(2);
        if (e.ok && e.Take(4) == 0x45786966 && e.ok) return static_cast<std::uint32_t>(id);  // "Exif"
      }
    }
    c.at = start + size;
  }
  return 0;
}

// Where item `id` lies (its first extent, in the file), from an iloc box's contents.
bool ItemPlace(std::string_view iloc, std::uint32_t id, std::uint64_t& offset, std::uint64_t& length) {
  Cursor c{iloc};
  const std::uint64_t version = c.Take(1);
  c.Take(3);
  const std::uint64_t sizes = c.Take(1), more = c.Take(1);
  const std::size_t offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4;
  const std::size_t indexSize = version >= 1 ? (more & 15) : 0;
  const std::uint64_t count = c.Take(version < 2 ? 2 : 4);
  for (std::uint64_t i = 0; i < count && i < 4096 && c.ok; ++i) {
    const std::uint64_t item = c.Take(version < 2 ? 2 : 4);
    const std::uint64_t method = version >= 1 ? (c.Take(2) & 15) : 0;
    c.Take(2);
    const std::uint64_t base = c.Take(baseSize);
    const std::uint64_t extents = c.Take(2);
    for (std::uint64_t e = 0; e < extents && c.ok; ++e) {
      c.Take(indexSize);
      const std::uint64_t extentOffset = c.Take(offsetSize);
      const std::uint64_t extentLength = c.Take(lengthSize);
      // Only items stored in the file itself (method 0) are read.
      if (item == id && e == 0 && c.ok) {
        if (method != 0 || base > UINT64_MAX - extentOffset) return false;
        offset = base + extentOffset;
        length = extentLength;
        return true;
      }
    }
  }
  return false;
}

// The creation time in moov/mvhd.
std::string CreationDate(Fragment& f, const Box& moov) {
  Box mvhd;
  if (!FindBox(f, moov.body, moov.end, "mvhd", mvhd)) return {};
  unsigned char h[12];
  if (mvhd.end - mvhd.body < 12 || !f.Read(mvhd.body, h, 12)) return {};
  const std::uint64_t created = h[0] == 1 ? Be64(h + 4) : h[0] == 0 ? Be32(h + 4) : 0;
  // Seconds since 1904 in UTC. Cameras without a clock write 0 or a day of
  // 1904, so anything before 1970-01-02 is no date.
  constexpr std::uint64_t kUnixFrom1904 = 2082844800;
  if (created < kUnixFrom1904 + 86400 || created > kUnixFrom1904 + 253402300799ull) return {};
  const std::uint64_t unix = created - kUnixFrom1904;
  int y = 0, m = 0, d = 0;
  CivilFromDays(static_cast<std::int64_t>(unix / 86400), y, m, d);
  const auto second = static_cast<int>(unix % 86400);
  return DateName(y, m, d, second / 3600, second / 60 % 60, second % 60);
}

// The UTF-8 text of the iTunes tag `type` in ilst.
std::string TagText(Fragment& f, const Box& ilst, const char* type) {
  Box item, data;
  if (!FindBox(f, ilst.body, ilst.end, type, item) || !FindBox(f, item.body, item.end, "data", data)) return {};
  unsigned char h[8];
  // A type of 1 is UTF-8 text; a locale follows it.
  if (data.end - data.body < 8 || !f.Read(data.body, h, 8) || Be32(h) != 1) return {};
  std::string text;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(data.end - data.body - 8, 4096));
  return ReadExact(f, data.body + 8, n, text) && IsUtf8(text) ? text : std::string();
}

// "Artist - Title" from moov/udta/meta/ilst.
std::string SongTags(Fragment& f, const Box& moov) {
  Box udta, meta, ilst;
  if (!FindBox(f, moov.body, moov.end, "udta", udta) || !FindBox(f, udta.body, udta.end, "meta", meta)) return {};
  // An MP4 meta box is a full box (a version and flags first); QuickTime's is not.
  unsigned char v[4];
  const std::uint64_t from = f.Read(meta.body, v, 4) && Be32(v) == 0 ? meta.body + 4 : meta.body;
  if (!FindBox(f, from, meta.end, "ilst", ilst)) return {};
  return ArtistTitle(TagText(f, ilst,
                             "\xA9"
                             "ART"),
                     TagText(f, ilst,
                             "\xA9"
                             "nam"));
}

}  // namespace

std::string MovieDate(Fragment& f, const CheckResult&) {
  Box moov;
  return FindBox(f, 0, kAnySize, "moov", moov) ? CreationDate(f, moov) : std::string();
}

std::string SongName(Fragment& f, const CheckResult&) {
  Box moov;
  // The tags come after the creation time: a moov cut short could give the
  // date of a song that has a name.
  if (!FindBox(f, 0, kAnySize, "moov", moov) || moov.end > f.Size()) return {};
  std::string name = SongTags(f, moov);
  return name.empty() ? CreationDate(f, moov) : name;
}

std::string HeifDate(Fragment& f, const CheckResult&) {
  Box meta, iinfBox, ilocBox;
  // meta is a full box: its children follow a version and flags.
  if (!FindBox(f, 0, kAnySize, "meta", meta) || meta.end - meta.body < 4) return {};
  std::string iinf, iloc;
  if (!FindBox(f, meta.body + 4, meta.end, "iinf", iinfBox) || !FindBox(f, meta.body + 4, meta.end, "iloc", ilocBox) ||
      !ReadExact(f, iinfBox.body,
                 static_cast<std::size_t>(std::min<std::uint64_t>(iinfBox.end - iinfBox.body, kMetadataBytes)), iinf) ||
      !ReadExact(f, ilocBox.body,
                 static_cast<std::size_t>(std::min<std::uint64_t>(ilocBox.end - ilocBox.body, kMetadataBytes)), iloc)) {
    return {};
  }
  const std::uint32_t id = ExifItem(iinf);
  std::uint64_t offset = 0, length = 0;
  if (id == 0 || !ItemPlace(iloc, id, offset, length) || length < 4 || !f.Holds(offset, length)) return {};
  // The item begins with the offset of the TIFF header after these 4 bytes
  // (past an "Exif\0\0" prefix).
  unsigned char skip[4];
  if (!f.Read(offset, skip, 4)) return {};
  const std::uint64_t tiff = 4ull + Be32(skip);
  if (tiff >= length) return {};
  return ExifDateAt(f, offset + tiff, length - tiff);
}

}  // namespace tessaro::names
