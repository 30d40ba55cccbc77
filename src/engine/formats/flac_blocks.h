#pragma once
// FLAC's metadata blocks: "fLaC", then blocks each behind a 4-byte header
// (last-block flag, type, 24-bit length), the first of them STREAMINFO. The
// FLAC checker walks them to the audio frames; the name reader finds the
// VORBIS_COMMENT block among them.

#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

inline constexpr std::uint64_t kFlacFirstBlock = 4;  // after "fLaC"
inline constexpr unsigned kFlacStreamInfo = 0;
inline constexpr unsigned kFlacVorbisComment = 4;
inline constexpr unsigned kFlacInvalid = 127;

struct FlacBlock {
  std::uint64_t at = 0;  // where its header begins
  unsigned type = 0;
  bool last = false;  // the last metadata block: the frames follow it
  std::uint32_t length = 0;

  std::uint64_t Data() const { return at + 4; }
  std::uint64_t End() const { return at + 4 + std::uint64_t{length}; }
};

// Whether the fragment begins with "fLaC".
bool HasFlacSignature(Fragment& f);

// The header of the block at `at`; false when the fragment ends inside it.
bool ReadFlacBlock(Fragment& f, std::uint64_t at, FlacBlock& block);

}  // namespace tessaro::formats
