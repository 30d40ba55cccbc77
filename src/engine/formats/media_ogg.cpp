// Ogg (Vorbis, Opus, Speex, Theora, FLAC in Ogg): pages ("OggS", a header
// with the stream's serial number and a CRC-32, a table of segment lengths,
// the segments) from the first byte until every logical stream begun has had
// its end-of-stream page. Every page's CRC is checked.

#include <array>
#include <cstring>
#include <string>

#include "engine/formats/media_checkers.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

// Ogg's CRC-32: polynomial 0x04C11DB7 taken most significant bit first, no
// reflection, starting at zero, unlike the one of zip.
std::uint32_t OggCrc(std::uint32_t crc, const unsigned char* p, std::size_t n) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[i] = c;
    }
    return t;
  }();
  for (std::size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

// Streams open at once in one file; more than a handful is not a real file.
constexpr int kMaxStreams = 32;

}  // namespace

CheckResult CheckOgg(Fragment& f, const CheckOptions&) {
  std::uint32_t serials[kMaxStreams];
  bool ended[kMaxStreams] = {};
  int streams = 0;
  int open = 0;
  std::uint64_t at = 0;
  std::uint64_t pages = 0;
  unsigned char page[27 + 255 + 255 * 255];
  for (;;) {
    if (!f.Read(at, page, 27)) {
      return Truncated(kUnknown, "ends inside the header of page " + std::to_string(pages + 1));
    }
    if (std::memcmp(page, "OggS", 4) != 0 || page[4] != 0) {
      return Damaged("no Ogg page at " + std::to_string(at) + " (page " + std::to_string(pages + 1) + ")");
    }
    const unsigned segments = page[26];
    if (!f.Read(at + 27, page + 27, segments)) return Truncated(kUnknown, "ends inside page " + std::to_string(pages + 1));
    std::size_t body = 0;
    for (unsigned i = 0; i < segments; ++i) body += page[27 + i];
    const std::size_t length = 27 + segments + body;
    if (!f.Read(at + 27 + segments, page + 27 + segments, body)) {
      return Truncated(kUnknown, "ends inside page " + std::to_string(pages + 1));
    }
    const std::uint32_t stored = Le32(page + 22);
    std::memset(page + 22, 0, 4);
    if (OggCrc(0, page, length) != stored) {
      return Damaged("the CRC of page " + std::to_string(pages + 1) + " at " + std::to_string(at) + " does not match");
    }
    const std::uint32_t serial = Le32(page + 14);
    const unsigned flags = page[5];
    int stream = 0;
    while (stream < streams && serials[stream] != serial) ++stream;
    if ((flags & 2) != 0) {
      // A stream begins: all of a file's streams begin before any data page.
      if (stream < streams) return Damaged("stream " + std::to_string(serial) + " begins twice");
      if (streams == kMaxStreams) return Unchecked("too many logical streams");
      serials[streams] = serial;
      ended[streams] = false;
      ++streams;
      ++open;
    } else if (stream == streams || ended[stream]) {
      return Damaged("page " + std::to_string(pages + 1) + " belongs to no open stream");
    }
    ++pages;
    at += length;
    if ((flags & 4) != 0) {
      ended[stream] = true;
      if (--open == 0) break;
    }
  }
  // Chained files go on with a new set of streams; another Ogg file in the
  // slack looks the same, so a page right at the end leaves the end unsure.
  unsigned char next[4];
  if (f.Read(at, next, 4) && std::memcmp(next, "OggS", 4) == 0) {
    return Unchecked("another Ogg stream follows at once at " + std::to_string(at) + ": chained, or slack");
  }
  return Intact(at, std::to_string(pages) + " pages, every CRC right, " + std::to_string(streams) +
                        (streams == 1 ? " stream ended" : " streams ended"));
}

extern const FormatRow kOggRow{

    .extensions = {"oga", "ogg", "ogv", "opus", "spx"},
    .checker = CheckOgg,
    .nameReader = names::OggName,
    .checksEveryByte = true
};

}  // namespace tessaro::formats
