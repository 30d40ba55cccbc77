#pragma once
// Deflate streams inflated straight from a fragment through zlib, with
// bounded buffers: where a stream ends, what it gives and the CRC-32 of that.
// The archive checks find ZIP and gzip members' ends and checksums so, and
// the name readers take office documents' metadata parts and PDF object
// streams from it.

#include <cstddef>
#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

struct InflateResult {
  // kFull: the caller's buffer filled before the stream ended.
  enum class Status : std::uint8_t { kEnd, kCut, kBad, kFull } status = Status::kBad;
  std::uint64_t consumed = 0;  // compressed bytes up to the stream's end
  std::uint64_t produced = 0;  // bytes it inflates to
  std::uint32_t crc = 0;
};

enum class DeflateWrapper : std::uint8_t { kRaw, kZlib };

// Inflates the stream at `at`, raw or in its zlib wrapper. The input stops at
// `limit` (an offset within the fragment); running into it is kCut. With
// `out`, what the stream gives is kept there, also when it breaks or is cut
// later, and the stream is followed only until `outSize` bytes fill it (kFull).
InflateResult Inflate(Fragment& f, std::uint64_t at, std::uint64_t limit, DeflateWrapper wrapper = DeflateWrapper::kRaw,
                      unsigned char* out = nullptr, std::size_t outSize = 0);

}  // namespace tessaro::formats
