// Windows Write and Word for DOS: a header of 128 bytes ("31 BE", or "32 BE"
// for Write with objects, then 0, then "00 AB"), the text from 128 to the
// header's fcMac, then pages of 128 bytes with the formatting and the tables.
// Write counts all the file's pages at 96 (pnMac); Word for DOS leaves that
// field 0 and counts them at 106 instead.

#include "engine/formats/documents_write.h"

#include <string>

#include "engine/formats/format_row.h"
#include "engine/formats/read_bytes.h"

namespace tessaro::formats {

namespace {

constexpr std::uint64_t kPage = 128;

}  // namespace

bool IsWordForDos(const unsigned char* head, std::size_t n) {
  return n >= 6 && (head[0] == 0x31 || head[0] == 0x32) && head[1] == 0xBE && head[2] == 0 && head[3] == 0 &&
         head[4] == 0 && head[5] == 0xAB;
}

CheckResult CheckWrite(Fragment& f, const CheckOptions&) {
  unsigned char h[kPage];
  if (!f.Read(0, h, 6) || !IsWordForDos(h, 6)) return Damaged("no Write or Word for DOS header");
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the header");
  const std::uint64_t text = Le32(h + 14);
  const bool write = Le16(h + 96) != 0;
  const std::uint64_t pages = write ? Le16(h + 96) : Le16(h + 106);
  const std::uint64_t end = pages * kPage;
  // The text, then at least its character and paragraph pages.
  if (text < kPage || (text + kPage - 1) / kPage + 2 > pages) {
    return Damaged("its " + std::to_string(pages) + " pages leave no room for " + std::to_string(text - kPage) +
                   " bytes of text and their formatting");
  }
  if (end > f.Size()) return Truncated(end, "the header counts " + std::to_string(pages) + " pages of 128 bytes");
  return Intact(end, std::to_string(pages) + " pages of 128 bytes, as the header counts");
}

extern const FormatRow kWriteRow{.extensions = {"wri"}, .checker = CheckWrite};

}  // namespace tessaro::formats
