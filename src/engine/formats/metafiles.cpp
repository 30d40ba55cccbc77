// Windows metafiles: records, each with its size, from the header to the
// end-of-file record; the header states the whole size, which the walk must
// meet exactly.

#include <string>

#include "engine/formats/documents_parts.h"

namespace tessaro::formats {

// EMF: records of (type, size in bytes); the header's nBytes is the file's
// size and the last record is EMR_EOF (14).
CheckResult CheckEmf(Fragment& f, const CheckOptions&) {
  unsigned char h[56];
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  if (Le32(h) != 1 || std::string(reinterpret_cast<char*>(h + 40), 4) != " EMF") return Damaged("no EMF header");
  const std::uint64_t size = Le32(h + 48);
  std::uint64_t at = 0;
  std::uint64_t records = 0;
  for (;;) {
    unsigned char r[8];
    if (at + 8 > size) return Damaged("the records run past the declared size");
    if (!f.Read(at, r, sizeof r)) return Truncated(size, "ends inside record " + std::to_string(records));
    const std::uint32_t length = Le32(r + 4);
    if (length < 8 || length % 4 != 0 || length > size - at) {
      return Damaged("impossible record size at " + std::to_string(at));
    }
    ++records;
    at += length;
    if (Le32(r) == 14) break;
  }
  if (at != size) return Damaged("the end-of-file record is not at the declared end");
  if (size > f.Size()) return Truncated(size, "expected " + std::to_string(size) + " bytes");
  return Intact(size, std::to_string(records) + " records to the end-of-file record");
}

// WMF: an optional placeable header (22 bytes), the metafile header whose
// size counts 16-bit words, then records of (size in words, function) ending
// with a record of function 0.
CheckResult CheckWmf(Fragment& f, const CheckOptions&) {
  unsigned char h[22];
  if (!f.Read(0, h, 18)) return Truncated(kUnknown, "ends inside the header");
  std::uint64_t base = 0;
  if (Le32(h) == 0x9AC6CDD7) {
    base = 22;
    if (!f.Read(base, h, 18)) return Truncated(kUnknown, "ends inside the header");
  }
  const std::uint16_t type = Le16(h);
  const std::uint16_t headerWords = Le16(h + 2);
  if ((type != 1 && type != 2) || headerWords != 9) return Damaged("no metafile header");
  const std::uint64_t end = base + 2ull * Le32(h + 6);
  std::uint64_t at = base + 18;
  std::uint64_t records = 0;
  for (;;) {
    unsigned char r[6];
    if (at + 6 > end) return Damaged("the records run past the declared size");
    if (!f.Read(at, r, sizeof r)) return Truncated(end, "ends inside record " + std::to_string(records));
    const std::uint64_t length = 2ull * Le32(r);
    if (length < 6 || length > end - at) return Damaged("impossible record size at " + std::to_string(at));
    ++records;
    at += length;
    if (Le16(r + 4) == 0) break;
  }
  if (at != end) return Damaged("the end-of-file record is not at the declared end");
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(records) + " records to the end-of-file record");
}

}  // namespace tessaro::formats
