// Pictures: where each format's structure says the file ends.

#include <cstring>

#include "engine/formats/checkers.h"

namespace tessaro::formats {

namespace {

// PNG: the signature, then chunks (length, type, data, CRC-32 of type and
// data) up to IEND. Every CRC is checked; the end is IEND's last byte.
CheckResult CheckPng(Fragment& f, const CheckOptions&) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  unsigned char head[8];
  if (!f.Read(0, head, 8) || std::memcmp(head, kSignature, 8) != 0) return Damaged("no PNG signature");
  std::uint64_t at = 8;
  unsigned char buffer[16384];
  std::uint64_t chunks = 0;
  for (;;) {
    unsigned char header[8];
    if (!f.Read(at, header, 8)) return Truncated(kUnknown, "ends inside a chunk header at " + std::to_string(at));
    const std::uint32_t length = Be32(header);
    if (length > 0x7FFFFFFFu) return Damaged("impossible chunk length at " + std::to_string(at));
    for (int i = 4; i < 8; ++i) {
      const unsigned char c = header[i];
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return Damaged("no chunk type at " + std::to_string(at));
    }
    if (!f.Holds(at + 8, std::uint64_t{length} + 4)) {
      return Truncated(kUnknown, "ends inside chunk " + std::string(reinterpret_cast<char*>(header + 4), 4) + " at " +
                                     std::to_string(at));
    }
    std::uint32_t crc = Crc32(0, header + 4, 4);
    for (std::uint32_t done = 0; done < length;) {
      const std::size_t n = std::min<std::size_t>(sizeof buffer, length - done);
      if (!f.Read(at + 8 + done, buffer, n)) return Unchecked("a read failed");
      crc = Crc32(crc, buffer, n);
      done += static_cast<std::uint32_t>(n);
    }
    unsigned char stored[4];
    if (!f.Read(at + 8 + length, stored, 4)) return Unchecked("a read failed");
    if (Be32(stored) != crc) {
      return Damaged("CRC of chunk " + std::string(reinterpret_cast<char*>(header + 4), 4) + " at " +
                     std::to_string(at) + " does not match");
    }
    ++chunks;
    at += 12 + std::uint64_t{length};
    if (std::memcmp(header + 4, "IEND", 4) == 0) {
      return Intact(at, std::to_string(chunks) + " chunks, every CRC right, IEND at " + std::to_string(at - 12));
    }
  }
}

const CheckerEntry kImages[] = {
    {"png", CheckPng, true, true},
};

}  // namespace

CheckerTable ImageCheckers() { return {kImages, sizeof kImages / sizeof kImages[0]}; }

}  // namespace tessaro::formats
