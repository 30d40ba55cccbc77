// Documents and text: where each format's structure says the file ends.

#include <algorithm>

#include "engine/formats/checkers.h"

namespace tessaro::formats {

namespace {

constexpr std::uint64_t kSector = 512;

// Plain text has no structure but its bytes: a disk leaves a file's last
// sector zero after the file's end, so the text ends at its first zero (a
// zero byte; in UTF-16 text, after its byte-order mark, a zero code unit) when
// only zeros follow it to the end of that sector. A zero followed by anything else in
// its sector is no text's end: that is not for cutting. Text up to the
// fragment's last byte tells nothing of its end.
CheckResult CheckText(Fragment& f, const CheckOptions&) {
  unsigned char buffer[65536];
  unsigned char bom[2] = {0, 0};
  const bool wide = f.Read(0, bom, 2) && ((bom[0] == 0xFF && bom[1] == 0xFE) || (bom[0] == 0xFE && bom[1] == 0xFF));
  const std::size_t unit = wide ? 2 : 1;
  std::uint64_t at = 0;
  std::uint64_t end = f.Size();
  while (at < f.Size() && end == f.Size()) {
    const std::size_t n = f.ReadSome(at, buffer, sizeof buffer);
    if (n < unit) return Unchecked("a read failed");
    for (std::size_t i = 0; i + unit <= n; i += unit) {
      if (buffer[i] == 0 && buffer[i + unit - 1] == 0) {
        end = at + i;
        break;
      }
    }
    at += n - n % unit;
  }
  // Text to the fragment's last byte may go on in a cluster the disk check
  // lost: nothing tells that this is its end.
  if (end == f.Size()) return Unchecked("text to the fragment's last byte");
  if (end == 0) return Damaged("begins with a zero byte");
  const std::uint64_t sectorEnd = std::min(f.Size(), (end / kSector + 1) * kSector);
  for (std::uint64_t p = end; p < sectorEnd;) {
    const std::size_t m =
        f.ReadSome(p, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, sectorEnd - p)));
    if (m == 0) return Unchecked("a read failed");
    if (std::any_of(buffer, buffer + m, [](unsigned char b) { return b != 0; })) {
      return Unchecked("a zero at " + std::to_string(end) + " with more after it in its sector");
    }
    p += m;
  }
  return Intact(end, std::string(wide ? "UTF-16 text" : "text") + " of " + std::to_string(end) +
                         " bytes, zeros to the end of its sector");
}

const CheckerEntry kDocuments[] = {
    {"txt", CheckText, false},
};

}  // namespace

CheckerTable DocumentCheckers() { return {kDocuments, sizeof kDocuments / sizeof kDocuments[0]}; }

}  // namespace tessaro::formats
