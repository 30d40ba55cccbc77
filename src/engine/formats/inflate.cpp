// One inflate loop for every reader of deflate streams. Without a caller's
// buffer the output goes through a fixed one, so a stream that inflates to
// gigabytes costs time, never memory.

#include "engine/formats/inflate.h"

#include <zlib.h>

#include <algorithm>

namespace tessaro::formats {

InflateResult Inflate(Fragment& f, std::uint64_t at, std::uint64_t limit, DeflateWrapper wrapper, unsigned char* out,
                      std::size_t outSize) {
  InflateResult result;
  z_stream z{};
  if (inflateInit2(&z, wrapper == DeflateWrapper::kRaw ? -15 : 15) != Z_OK) return result;
  unsigned char in[16384];
  unsigned char scratch[32768];
  const bool keep = out != nullptr;
  std::uint64_t next = at;
  result.status = InflateResult::Status::kCut;
  if (keep && outSize == 0) result.status = InflateResult::Status::kFull;
  while (!keep || result.produced < outSize) {
    if (z.avail_in == 0) {
      if (next >= limit) break;
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof in, limit - next));
      const std::size_t got = f.ReadSome(next, in, want);
      if (got == 0) break;
      next += got;
      z.next_in = in;
      z.avail_in = static_cast<uInt>(got);
    }
    unsigned char* const piece = keep ? out + result.produced : scratch;
    const std::size_t room = keep ? static_cast<std::size_t>(std::min<std::uint64_t>(outSize - result.produced, UINT32_MAX))
                                  : sizeof scratch;
    z.next_out = piece;
    z.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t made = room - z.avail_out;
    result.crc = Crc32(result.crc, piece, made);
    result.produced += made;
    if (rc == Z_STREAM_END) {
      result.status = InflateResult::Status::kEnd;
      break;
    }
    if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      result.status = InflateResult::Status::kBad;
      break;
    }
    if (keep && result.produced == outSize) result.status = InflateResult::Status::kFull;
  }
  // What was read but not used lies beyond the stream's end.
  result.consumed = next - at - z.avail_in;
  inflateEnd(&z);
  return result;
}

}  // namespace tessaro::formats
