// Ogg pages, read for the checker and the name readers alike.

#include "engine/formats/ogg_pages.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tessaro::formats {

namespace {

// Ogg's CRC-32: polynomial 0x04C11DB7 taken most significant bit first, no
// reflection, starting at zero, unlike the one of zip.
std::uint32_t OggCrc32(std::uint32_t crc, const unsigned char* p, std::size_t n) {
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

}  // namespace

OggRead ReadOggPage(Fragment& f, std::uint64_t at, OggPage& page) {
  if (!f.Read(at, page.header, sizeof page.header)) return OggRead::kCutHeader;
  if (std::memcmp(page.header, "OggS", 4) != 0 || page.header[4] != 0) return OggRead::kNoPage;
  page.segments = page.header[26];
  page.serial = Le32(page.header + 14);
  page.flags = page.header[5];
  if (!f.Read(at + 27, page.lacing, page.segments)) return OggRead::kCutTable;
  page.body = 0;
  for (unsigned i = 0; i < page.segments; ++i) page.body += page.lacing[i];
  return OggRead::kOk;
}

OggCrc CheckOggCrc(Fragment& f, std::uint64_t at, const OggPage& page) {
  unsigned char header[27];
  std::memcpy(header, page.header, sizeof header);
  std::memset(header + 22, 0, 4);  // the CRC is of the page with its own field zero
  std::uint32_t crc = OggCrc32(0, header, sizeof header);
  crc = OggCrc32(crc, page.lacing, page.segments);
  unsigned char buffer[16384];
  const std::uint64_t body = at + 27 + page.segments;
  for (std::uint64_t done = 0; done < page.body;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, page.body - done));
    if (!f.Read(body + done, buffer, n)) return OggCrc::kCut;
    crc = OggCrc32(crc, buffer, n);
    done += n;
  }
  return crc == Le32(page.header + 22) ? OggCrc::kRight : OggCrc::kWrong;
}

}  // namespace tessaro::formats
