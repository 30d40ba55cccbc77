// Documents and text: where each format's structure says the file ends.

#include <algorithm>
#include <cstring>

#include "engine/formats/checkers.h"
#include "engine/formats/documents_parts.h"

namespace tessaro::formats {

namespace {

constexpr std::uint64_t kSector = 512;

}  // namespace

// Plain text has no structure but its bytes: a disk leaves a file's last
// sector zero after the file's end, so the text ends at its first zero (a
// zero byte; in UTF-16 text, after its byte-order mark, a zero code unit) when
// only zeros follow it to the end of that sector. Text up to the fragment's
// last byte ends there (nothing is cut). A zero followed by anything else in
// its sector is no text's end: that is not for cutting.
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
  if (end == f.Size()) return Intact(f.Size(), "text to the fragment's last byte");
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

// SQLite: the header gives the page size and the page count; the count is
// trusted only when the "version-valid-for" number matches the change
// counter (older writers left the count stale).
CheckResult CheckSqlite(Fragment& f, const CheckOptions&) {
  unsigned char h[100];
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  if (std::memcmp(h, "SQLite format 3", 16) != 0) return Damaged("no SQLite header");
  const std::uint32_t pageSize = Be16(h + 16) == 1 ? 65536u : Be16(h + 16);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return Damaged("impossible page size");
  const std::uint32_t pages = Be32(h + 28);
  if (Be32(h + 92) != Be32(h + 24) || pages == 0) return Unchecked("the page count is not kept up to date");
  const std::uint64_t end = std::uint64_t{pageSize} * pages;
  if (end > f.Size()) return Truncated(end, "expected " + std::to_string(end) + " bytes");
  return Intact(end, std::to_string(pages) + " pages of " + std::to_string(pageSize) + " bytes");
}

namespace {

const CheckerEntry kDocuments[] = {
    {"txt", CheckText, false},
    {"pdf", CheckPdf},
    {"msi", CheckCompound},
    {"sqlite", CheckSqlite},
    {"ttf", CheckSfnt, true, true},
    {"otf", CheckSfnt, true, true},
    {"ttc", CheckSfnt, true, true},
    {"woff", CheckWoff},
    {"woff2", CheckWoff},
    {"elf", CheckElf},
    {"so", CheckElf},
    {"exe", CheckPe},
};

}  // namespace

CheckerTable DocumentCheckers() { return {kDocuments, sizeof kDocuments / sizeof kDocuments[0]}; }

}  // namespace tessaro::formats
