// FLAC metadata block headers, read for the checker and the name reader alike.

#include "engine/formats/flac_blocks.h"

#include <cstring>

namespace tessaro::formats {

bool HasFlacSignature(Fragment& f) {
  unsigned char head[4];
  return f.Read(0, head, 4) && std::memcmp(head, "fLaC", 4) == 0;
}

bool ReadFlacBlock(Fragment& f, std::uint64_t at, FlacBlock& block) {
  unsigned char h[4];
  if (!f.Read(at, h, 4)) return false;
  block.at = at;
  block.type = h[0] & 0x7Fu;
  block.last = (h[0] & 0x80) != 0;
  block.length = Be24(h + 1);
  return true;
}

}  // namespace tessaro::formats
