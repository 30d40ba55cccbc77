// Compiled HTML help (CHM): the ITSF header points at two header sections,
// the first of which states the size of the whole file; the second is the
// directory ("ITSP"). Everything the header points at lies inside that size.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

// Version 3's header; version 2's lacks the content offset at its end.
constexpr std::size_t kHeader3 = 0x60;
constexpr std::size_t kHeader2 = 0x58;
constexpr std::uint64_t kSection0 = 0x18;
// A header section larger than this holds more than the few numbers it has.
constexpr std::uint64_t kMostSection0 = 4096;

CheckResult CheckChm(Fragment& f, const CheckOptions&) {
  unsigned char h[kHeader3];
  if (!f.Read(0, h, kHeader2) || std::memcmp(h, "ITSF", 4) != 0) return Damaged("no ITSF header");
  const std::uint32_t version = Le32(h + 4);
  const std::uint32_t headerSize = Le32(h + 8);
  if ((version != 2 && version != 3) || headerSize < (version == 3 ? kHeader3 : kHeader2) || headerSize > 4096) {
    return Damaged("an ITSF header of unknown version " + std::to_string(version));
  }
  const std::uint64_t section0 = Le64(h + 0x38), length0 = Le64(h + 0x40);
  const std::uint64_t directory = Le64(h + 0x48), directoryLength = Le64(h + 0x50);
  if (section0 < headerSize || length0 < kSection0 || length0 > kMostSection0 || directory < headerSize ||
      directory > UINT64_MAX / 2 || directoryLength > UINT64_MAX / 2) {
    return Damaged("the header sections lie in impossible places");
  }
  unsigned char s[kSection0];
  if (!f.Read(section0, s, sizeof s)) return Truncated(kUnknown, "ends before the first header section");
  if (Le32(s) != 0x1FE) return Damaged("no first header section where the header says");
  const std::uint64_t size = Le64(s + 8);
  std::uint64_t furthest = std::max(section0 + length0, directory + directoryLength);
  if (version == 3) {
    if (!f.Read(0, h, kHeader3)) return Truncated(size, "ends inside the header");
    furthest = std::max(furthest, Le64(h + kHeader2));
  }
  if (size < furthest) return Damaged("the stated size of " + std::to_string(size) + " bytes leaves out what the header points at");
  unsigned char itsp[4];
  if (!f.Read(directory, itsp, 4)) return Truncated(size, "ends before the directory");
  if (std::memcmp(itsp, "ITSP", 4) != 0) return Damaged("no directory where the header says");
  if (size > f.Size()) return Truncated(size, "the header says " + std::to_string(size) + " bytes");
  return Intact(size, "the size the first header section states");
}

}  // namespace

extern const FormatRow kChmRow{.extensions = {"chm"}, .checker = CheckChm};

}  // namespace tessaro::formats
