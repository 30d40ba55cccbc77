#pragma once
// Ogg pages: "OggS", a header with the logical stream's serial number and a
// CRC-32, a table of segment lengths, then the segments. The Ogg checker
// walks them to the last stream's end; the name readers gather a stream's
// comment packet from them.

#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

struct OggPage {
  unsigned char header[27] = {};
  unsigned char lacing[255] = {};  // the segment table
  unsigned segments = 0;
  std::uint64_t body = 0;  // bytes of all its segments
  std::uint32_t serial = 0;
  unsigned flags = 0;  // 2: a stream begins, 4: a stream ends

  std::uint64_t Length() const { return 27 + segments + body; }
};

enum class OggRead : std::uint8_t {
  kOk,
  kCutHeader,  // the fragment ends inside the 27-byte header
  kNoPage,     // no page of Ogg's version 0 begins there
  kCutTable,   // the fragment ends inside the segment table
};

// The header and segment table of the page at `at`; its body is not read.
OggRead ReadOggPage(Fragment& f, std::uint64_t at, OggPage& page);

enum class OggCrc : std::uint8_t { kRight, kWrong, kCut };

// Whether the CRC-32 stored in the page at `at`, read by ReadOggPage, is the
// one of the page; kCut when the fragment ends inside its body.
OggCrc CheckOggCrc(Fragment& f, std::uint64_t at, const OggPage& page);

}  // namespace tessaro::formats
