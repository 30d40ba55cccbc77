#pragma once
// Numbers as files store them: little- and big-endian integers taken from
// bytes already read into memory, and the byte order a header chooses for the
// rest of its file (TIFF's "II"/"MM", ELF's data encoding). The caller sees to
// it that the bytes are there; nothing here reads or checks a bound.

#include <cstddef>
#include <cstdint>

namespace tessaro::formats {

inline std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t Le24(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16;
}
inline std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}
inline std::uint16_t Be16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
inline std::uint32_t Be24(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]);
}
inline std::uint32_t Be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t Be64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Be32(p)) << 32 | Be32(p + 4);
}
// The first `n` bytes (at most 8) as one big-endian number; 0 when `n` is 0.
inline std::uint64_t BeN(const unsigned char* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n && i < 8; ++i) v = v << 8 | p[i];
  return v;
}

// The byte order a file declares for itself.
struct ByteOrder {
  bool big = false;
  std::uint16_t U16(const unsigned char* p) const { return big ? Be16(p) : Le16(p); }
  std::uint32_t U32(const unsigned char* p) const { return big ? Be32(p) : Le32(p); }
  std::uint64_t U64(const unsigned char* p) const { return big ? Be64(p) : Le64(p); }
};

}  // namespace tessaro::formats
