// When a photo was taken: EXIF DateTimeOriginal (tag 0x9003), reached through
// the TIFF structure that JPEG (APP1 "Exif"), TIFF itself and the camera raws
// built on TIFF carry. DateTime (0x0132) is left alone: it is when the file
// was last changed, so an edited photo would be named after its edit.

#include <cstring>
#include <set>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::Be16;
using formats::Be32;
using formats::Le16;
using formats::Le32;

// A TIFF structure inside the fragment: offsets count from its header, and
// nothing is read beyond `size` bytes from there.
class Tiff {
 public:
  Tiff(Fragment& f, std::uint64_t base, std::uint64_t size) : f_(f), base_(base), size_(size) {}

  bool Read(std::uint64_t offset, void* buffer, std::size_t n) {
    return offset <= size_ && n <= size_ - offset && f_.Read(base_ + offset, buffer, n);
  }
  std::uint16_t U16(const unsigned char* p) const { return big_ ? Be16(p) : Le16(p); }
  std::uint32_t U32(const unsigned char* p) const { return big_ ? Be32(p) : Le32(p); }

  // The first IFD's offset, or 0 when no TIFF header is there.
  std::uint32_t Header() {
    unsigned char h[8];
    if (!Read(0, h, 8)) return 0;
    big_ = h[0] == 'M' && h[1] == 'M';
    if (!big_ && (h[0] != 'I' || h[1] != 'I')) return 0;
    // 42, or the magic numbers Olympus ("RO", "RS") and Panasonic (0x55) use.
    const std::uint16_t magic = U16(h + 2);
    if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return 0;
    return U32(h + 4);
  }

  // Looks through the IFD at `ifd` for `tag`, copying its 12-byte entry;
  // `next` (when asked for) gets the offset of the IFD that follows.
  bool FindTag(std::uint32_t ifd, std::uint16_t tag, unsigned char entry[12], std::uint32_t* next) {
    unsigned char n[2];
    if (ifd == 0 || !Read(ifd, n, 2)) return false;
    const std::uint16_t count = U16(n);
    bool found = false;
    for (std::uint32_t i = 0; i < count && i < 1024; ++i) {
      unsigned char e[12];
      if (!Read(ifd + 2 + 12ull * i, e, 12)) return found;
      if (!found && U16(e) == tag) {
        std::memcpy(entry, e, 12);
        found = true;
        if (next == nullptr) return true;
      }
    }
    if (next != nullptr) {
      unsigned char p[4];
      *next = Read(ifd + 2 + 12ull * count, p, 4) ? U32(p) : 0;
    }
    return found;
  }

  // "YYYY:MM:DD HH:MM:SS" of an ASCII entry, as a name.
  std::string Date(const unsigned char entry[12]) {
    if (U16(entry + 2) != 2 || U32(entry + 4) < 19) return {};
    char text[19];
    if (!Read(U32(entry + 8), text, sizeof text)) return {};
    return ParseDate(text);
  }

 private:
  static std::string ParseDate(const char* t) {
    int v[6] = {};
    static const int kAt[6] = {0, 5, 8, 11, 14, 17};
    static const int kLen[6] = {4, 2, 2, 2, 2, 2};
    for (int k = 0; k < 6; ++k) {
      for (int i = 0; i < kLen[k]; ++i) {
        const char c = t[kAt[k] + i];
        if (c < '0' || c > '9') return {};
        v[k] = v[k] * 10 + (c - '0');
      }
    }
    const auto sep = [&](int at, const char* allowed) { return std::strchr(allowed, t[at]) != nullptr && t[at] != 0; };
    if (!sep(4, ":-") || !sep(7, ":-") || !sep(10, " T") || !sep(13, ":") || !sep(16, ":")) return {};
    return DateName(v[0], v[1], v[2], v[3], v[4], v[5]);
  }

  Fragment& f_;
  std::uint64_t base_;
  std::uint64_t size_;
  bool big_ = false;
};

}  // namespace

std::string ExifDateAt(Fragment& f, std::uint64_t base, std::uint64_t size) {
  Tiff tiff(f, base, size);
  std::uint32_t ifd = tiff.Header();
  std::set<std::uint32_t> seen;
  // The Exif IFD hangs off IFD0 (a few raws put the date in IFD0 itself); a
  // chain of IFDs that loops or runs on is cut short.
  for (int step = 0; step < 8 && ifd != 0 && seen.insert(ifd).second; ++step) {
    unsigned char entry[12];
    std::uint32_t next = 0;
    if (tiff.FindTag(ifd, 0x8769, entry, &next)) {
      const std::uint32_t exif = tiff.U32(entry + 8);
      if (tiff.FindTag(exif, 0x9003, entry, nullptr)) return tiff.Date(entry);
      return {};
    }
    if (tiff.FindTag(ifd, 0x9003, entry, nullptr)) return tiff.Date(entry);
    ifd = next;
  }
  return {};
}

std::string TiffDate(Fragment& f, const CheckResult&) { return ExifDateAt(f, 0, f.Size()); }

std::string JpegDate(Fragment& f, const CheckResult&) {
  unsigned char h[10];
  if (!f.Read(0, h, 2) || h[0] != 0xFF || h[1] != 0xD8) return {};
  std::uint64_t at = 2;
  for (int segments = 0; segments < 256; ++segments) {
    if (!f.Read(at, h, 4) || h[0] != 0xFF) return {};
    const unsigned marker = h[1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    // The scan begins after SOS; metadata comes before it.
    if (marker == 0xDA || marker == 0xD9) return {};
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const std::uint16_t length = Be16(h + 2);
    if (length < 2) return {};
    if (marker == 0xE1 && length >= 16 && f.Read(at + 4, h, 6) && std::memcmp(h, "Exif\0\0", 6) == 0) {
      return ExifDateAt(f, at + 10, length - 8u);
    }
    at += 2u + length;
  }
  return {};
}

}  // namespace tessaro::names
