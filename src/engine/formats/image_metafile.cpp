// Windows metafiles: records, each with its size, up to an end record. EMF's
// header also states the file's size and its number of records; WMF's header
// states the size in 16-bit words. The walk must land where the header says.

#include <string>

#include "engine/formats/image_checks.h"
#include "engine/formats/format_row.h"

namespace tessaro::formats::images {

// EMF: records of type and size (a multiple of 4) from the header record
// (" EMF" at 40, the size in bytes at 48, the records at 52) to EMR_EOF. The
// count of records is not held against the walk: LibreOffice leaves EMR_EOF
// out of it.
CheckResult CheckEmf(Fragment& f, const CheckOptions&) {
  unsigned char h[56];
  if (!f.Read(0, h, 56) || Le32(h) != 1 || Le32(h + 40) != 0x464D4520) return Damaged("no EMF header");
  const std::uint32_t declared = Le32(h + 48);
  const std::uint32_t records = Le32(h + 52);
  std::uint64_t at = 0;
  for (std::uint64_t n = 1;; ++n) {
    unsigned char r[8];
    if (!f.Read(at, r, 8)) return Truncated(declared, "ends before record " + std::to_string(n));
    const std::uint32_t type = Le32(r);
    const std::uint32_t size = Le32(r + 4);
    if (size < 8 || size % 4 != 0 || (n > 1 && type == 1)) return Damaged("impossible record " + std::to_string(n) + " at " + std::to_string(at));
    if (!f.Holds(at, size)) return Truncated(declared, "ends inside record " + std::to_string(n));
    at += size;
    if (type != 14) continue;  // EMR_EOF
    if (at != declared) {
      return Damaged("the end record at " + std::to_string(at - size) + " disagrees with the header's " +
                     std::to_string(declared) + " bytes");
    }
    return Intact(at, std::to_string(n) + " records (the header counts " + std::to_string(records) + "), " +
                          std::to_string(at) + " bytes as the header says");
  }
}

// WMF: an optional placeable header (22 bytes, its own checksum), the
// metafile header (its size in words), records of size (in words) and
// function, up to the end record (function 0).
CheckResult CheckWmf(Fragment& f, const CheckOptions&) {
  unsigned char p[22];
  std::uint64_t start = 0;
  if (f.Read(0, p, 22) && Le32(p) == 0x9AC6CDD7) {
    std::uint16_t sum = 0;
    for (int i = 0; i < 10; ++i) sum ^= Le16(p + 2 * i);
    if (sum != Le16(p + 20)) return Damaged("the placeable header's checksum does not match");
    start = 22;
  }
  unsigned char h[18];
  if (!f.Read(start, h, 18)) return Truncated(kUnknown, "ends inside the header");
  if ((Le16(h) != 1 && Le16(h) != 2) || Le16(h + 2) != 9 || (Le16(h + 4) != 0x100 && Le16(h + 4) != 0x300)) {
    return Damaged("no metafile header");
  }
  const std::uint64_t end = start + 2 * std::uint64_t{Le32(h + 6)};
  std::uint64_t at = start + 18;
  for (std::uint64_t n = 1;; ++n) {
    unsigned char r[6];
    if (at + 6 > end) return Damaged("no end record within the size the header gives");
    if (!f.Read(at, r, 6)) return Truncated(end, "ends before record " + std::to_string(n));
    const std::uint64_t size = 2 * std::uint64_t{Le32(r)};
    if (size < 6) return Damaged("impossible record " + std::to_string(n) + " at " + std::to_string(at));
    at += size;
    if (Le16(r + 4) != 0) continue;
    if (at != end) return Damaged("the end record disagrees with the header's size");
    if (!f.Holds(0, end)) return Truncated(end, "ends inside the end record");
    return Intact(end, std::to_string(n) + " records, as the header says");
  }
}

}  // namespace tessaro::formats::images

namespace tessaro::formats {

extern const FormatRow kEmfRow{
    .extensions = {"emf"},
    .checker = images::CheckEmf,
    .endPolicy = EndPolicy::kLastSectorZeros
};
extern const FormatRow kWmfRow{
    .extensions = {"wmf"},
    .checker = images::CheckWmf,
    .endPolicy = EndPolicy::kLastSectorZeros
};

}  // namespace tessaro::formats
