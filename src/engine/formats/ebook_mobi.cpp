// Kindle books (Mobipocket): a Palm database of type "BOOK", creator "MOBI".
// Its header lists where each record begins, but no record's length: the
// last one runs to the end of the file. Kindle and Mobipocket writers close a
// book with a record of four fixed bytes (E9 8E 0D 0A), and that is the end
// this checker trusts; a book whose last record is another stays unchecked.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/formats/format_row.h"

namespace tessaro::formats {

namespace {

constexpr std::size_t kPalmHeader = 78;
constexpr unsigned char kEndOfBook[4] = {0xE9, 0x8E, 0x0D, 0x0A};

CheckResult CheckMobi(Fragment& f, const CheckOptions&) {
  unsigned char h[kPalmHeader];
  if (!f.Read(0, h, sizeof h) || std::memcmp(h + 60, "BOOKMOBI", 8) != 0) return Damaged("no Palm database of a book");
  const unsigned records = Be16(h + 76);
  if (records < 2) return Damaged("a book of fewer than two records");
  // The record list: offsets that rise, the first after the list itself.
  const std::uint64_t listEnd = kPalmHeader + 8 * std::uint64_t{records};
  std::uint64_t previous = listEnd - 1;
  unsigned char entries[8 * 512];
  for (unsigned done = 0; done < records;) {
    const unsigned n = std::min(records - done, 512u);
    if (!f.Read(kPalmHeader + 8 * std::uint64_t{done}, entries, 8 * std::size_t{n})) {
      return Truncated(kUnknown, "ends inside the record list");
    }
    for (unsigned i = 0; i < n; ++i) {
      const std::uint64_t offset = Be32(entries + 8 * i);
      if (offset <= previous) return Damaged("record " + std::to_string(done + i) + " does not follow the one before");
      previous = offset;
    }
    done += n;
  }
  unsigned char last[4];
  if (!f.Read(previous, last, 4)) return Truncated(kUnknown, "ends before the last record");
  if (std::memcmp(last, kEndOfBook, 4) != 0) return Unchecked("the last record is no end-of-book mark: it runs to the end of the file");
  return Intact(previous + 4, std::to_string(records) + " records, the last the end-of-book mark");
}

}  // namespace

extern const FormatRow kMobiRow{.extensions = {"mobi"}, .checker = CheckMobi};

}  // namespace tessaro::formats
