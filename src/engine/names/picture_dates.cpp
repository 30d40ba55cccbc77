// When a photo was taken: EXIF DateTimeOriginal (tag 0x9003), reached through
// the TIFF structure that JPEG (APP1 "Exif"), TIFF itself and the camera raws
// built on TIFF carry. DateTime (0x0132) is left alone: it is when the file
// was last changed, so an edited photo would be named after its edit.

#include <cstring>

#include "engine/formats/jpeg_segments.h"
#include "engine/formats/tiff_ifd.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

using formats::ByteOrder;
using formats::JpegSegments;
using formats::TiffEntry;
using formats::TiffReader;

// "YYYY:MM:DD HH:MM:SS" as a name.
std::string ParseDate(const char* t) {
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

// The date of an ASCII entry.
std::string Date(TiffReader& tiff, const TiffEntry& entry) {
  if (entry.type != 2 || entry.count < 19) return {};
  char text[19];
  if (!tiff.Read(tiff.Offset(entry), text, sizeof text)) return {};
  return ParseDate(text);
}

// Looks through the IFD at `ifd` for `tag`; `next` (when asked for) gets the
// offset of the IFD that follows.
bool FindTag(TiffReader& tiff, std::uint32_t ifd, std::uint16_t tag, TiffEntry& entry, std::uint32_t* next) {
  unsigned count = 0;
  if (ifd == 0 || !tiff.Entries(ifd, count)) return false;
  bool found = false;
  for (unsigned i = 0; i < count && i < 1024; ++i) {
    TiffEntry e;
    if (!tiff.Entry(ifd, i, e)) return found;
    if (!found && e.tag == tag) {
      entry = e;
      found = true;
      if (next == nullptr) return true;
    }
  }
  if (next != nullptr && !tiff.Next(ifd, count, *next)) *next = 0;
  return found;
}

}  // namespace

std::string ExifDateAt(Fragment& f, std::uint64_t base, std::uint64_t size) {
  unsigned char h[8];
  ByteOrder order;
  if (size < 8 || !f.Read(base, h, 8) || !formats::TiffByteOrder(h, order)) return {};
  // 42, or the magic numbers Olympus ("RO", "RS") and Panasonic (0x55) use.
  const std::uint16_t magic = order.U16(h + 2);
  if (magic != 42 && magic != 0x4F52 && magic != 0x5352 && magic != 0x55) return {};
  TiffReader tiff(f, order, base, size);
  formats::IfdQueue<std::uint32_t> chain;
  chain.Queue(order.U32(h + 4), order.U32(h + 4));
  // The Exif IFD hangs off IFD0 (a few raws put the date in IFD0 itself); a
  // chain of IFDs that loops or runs on is cut short.
  std::uint32_t ifd = 0;
  for (int step = 0; step < 8 && chain.Take(ifd) && ifd != 0; ++step) {
    TiffEntry entry;
    std::uint32_t next = 0;
    if (FindTag(tiff, ifd, 0x8769, entry, &next)) {
      const std::uint32_t exif = tiff.Offset(entry);
      if (FindTag(tiff, exif, 0x9003, entry, nullptr)) return Date(tiff, entry);
      return {};
    }
    if (FindTag(tiff, ifd, 0x9003, entry, nullptr)) return Date(tiff, entry);
    chain.Queue(next, next);
  }
  return {};
}

std::string TiffDate(Fragment& f, const CheckResult&) { return ExifDateAt(f, 0, f.Size()); }

std::string JpegDate(Fragment& f, const CheckResult&) {
  unsigned char h[6];
  if (!f.Read(0, h, 2) || h[0] != 0xFF || h[1] != 0xD8) return {};
  JpegSegments segments(f, 2);
  // A fill byte counts as a segment, so a run of them ends the walk too.
  for (std::uint64_t n = 0; n < 256; ++n) {
    if (segments.Next() != JpegSegments::Marker::kFound) return {};
    n += segments.Fills();
    if (n >= 256) return {};
    const unsigned marker = segments.Code();
    // The scan begins after SOS; metadata comes before it.
    if (marker == 0xDA || marker == 0xD9) return {};
    if (segments.Standalone()) continue;
    std::uint16_t length = 0;
    if (!segments.Length(length) || length < 2) return {};
    const std::uint64_t at = segments.CodeAt() - 1;
    if (marker == 0xE1 && length >= 16 && f.Read(at + 4, h, 6) && std::memcmp(h, "Exif\0\0", 6) == 0) {
      return ExifDateAt(f, at + 10, length - 8u);
    }
    segments.Seek(at + 2u + length);
  }
  return {};
}

}  // namespace tessaro::names
