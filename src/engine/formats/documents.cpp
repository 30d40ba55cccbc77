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
// last byte ends there (nothing is cut), unless the fragment stops at a
// sector's end. A zero followed by anything else in its sector is no text's
// end: that is not for cutting.
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
  // A fragment that stops at a sector's end inside the text is most likely
  // the first clusters of a longer file: its end is not sure. Elsewhere the
  // text ends with the fragment (nothing is cut).
  if (end == f.Size() && f.Size() % kSector == 0) return Unchecked("text up to a sector's end: the file may go on");
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

namespace {

char Lower(unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

// Text that must end with `mark` (in any case; white space may follow it):
// its end as for plain text, but a text that stops before its mark, like the
// first clusters of a longer file, has no sure end.
CheckResult CheckTextEndingWith(Fragment& f, const CheckOptions& options, const std::string& mark) {
  CheckResult text = CheckText(f, options);
  if (text.verdict != Verdict::kIntact) return text;
  unsigned char tail[256];
  const std::uint64_t from = text.length > sizeof tail ? text.length - sizeof tail : 0;
  std::size_t n = f.ReadSome(from, tail, static_cast<std::size_t>(text.length - from));
  const auto space = [](unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
  while (n > 0 && space(tail[n - 1])) --n;
  std::string want = mark;
  // An end tag may hold white space before its '>' ("</HTML\n>").
  if (!want.empty() && want.back() == '>' && n > 0 && tail[n - 1] == '>') {
    want.pop_back();
    --n;
    while (n > 0 && space(tail[n - 1])) --n;
  }
  bool ends = !want.empty() && n >= want.size();
  for (std::size_t i = 0; ends && i < want.size(); ++i) ends = Lower(tail[n - want.size() + i]) == Lower(want[i]);
  if (!ends) return Unchecked("the text does not end with " + (mark.empty() ? "its root element's end" : mark));
  text.detail += ", ending with " + mark;
  return text;
}

// The end tag of the first element of a markup text, after its declaration,
// comments, processing instructions and document type: "</svg>", or empty.
std::string RootEndTag(Fragment& f) {
  unsigned char head[4096];
  const std::size_t n = f.ReadSome(0, head, sizeof head);
  std::size_t at = n >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF ? 3 : 0;
  for (;;) {
    while (at < n && (head[at] == ' ' || head[at] == '\n' || head[at] == '\r' || head[at] == '\t')) ++at;
    if (at + 1 >= n || head[at] != '<') return "";
    const char* close = nullptr;
    if (head[at + 1] == '?') close = "?>";
    else if (n - at >= 4 && std::memcmp(head + at, "<!--", 4) == 0) close = "-->";
    else if (head[at + 1] == '!') close = ">";
    if (close == nullptr) break;
    const unsigned char* end = std::search(head + at + 2, head + n, close, close + std::strlen(close));
    if (end == head + n) return "";
    at = static_cast<std::size_t>(end - head) + std::strlen(close);
  }
  std::string name;
  for (++at; at < n && name.size() < 64; ++at) {
    const unsigned char c = head[at];
    if (c == ' ' || c == '>' || c == '/' || c == '\n' || c == '\r' || c == '\t') break;
    name += static_cast<char>(c);
  }
  return name.empty() ? "" : "</" + name + ">";
}

CheckResult CheckMarkup(Fragment& f, const CheckOptions& options) {
  return CheckTextEndingWith(f, options, RootEndTag(f));
}
CheckResult CheckVcard(Fragment& f, const CheckOptions& options) { return CheckTextEndingWith(f, options, "END:VCARD"); }
CheckResult CheckCalendar(Fragment& f, const CheckOptions& options) {
  return CheckTextEndingWith(f, options, "END:VCALENDAR");
}
CheckResult CheckXpm(Fragment& f, const CheckOptions& options) { return CheckTextEndingWith(f, options, "};"); }

}  // namespace

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

// RTF: groups in braces from "{\rtf" to the brace that closes the first,
// with the writer's line end after it when there is one. Escaped braces and
// the raw bytes of \binN do not count.
CheckResult CheckRtf(Fragment& f, const CheckOptions&) {
  unsigned char buffer[65536];
  if (!f.Read(0, buffer, 5) || std::memcmp(buffer, "{\\rtf", 5) != 0) return Damaged("no {\\rtf header");
  enum class State { kText, kEscape, kWord, kNumber } state = State::kText;
  char word[8] = {};
  std::size_t wordLength = 0;
  std::uint64_t number = 0;
  std::uint64_t depth = 0;
  for (std::uint64_t at = 0; at < f.Size();) {
    const std::size_t n = f.ReadSome(at, buffer, sizeof buffer);
    if (n == 0) return Unchecked("a read failed");
    std::uint64_t next = at + n;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char c = buffer[i];
      const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      if (state == State::kWord && letter) {
        if (wordLength < sizeof word) word[wordLength] = static_cast<char>(c);
        ++wordLength;
        continue;
      }
      if (state == State::kWord && (c == '-' || (c >= '0' && c <= '9'))) {
        state = State::kNumber;
        number = c == '-' ? 0 : c - '0';
        continue;
      }
      if (state == State::kNumber && c >= '0' && c <= '9') {
        number = std::min<std::uint64_t>(number * 10 + (c - '0'), UINT32_MAX);
        continue;
      }
      if (state == State::kWord || state == State::kNumber) {
        const bool binary = state == State::kNumber && wordLength == 3 && std::memcmp(word, "bin", 3) == 0;
        state = State::kText;
        // The delimiter space belongs to the control word; \binN's data follows it.
        const std::uint64_t skip = (c == ' ' ? 1 : 0) + (binary ? number : 0);
        if (skip > 0) {
          const std::uint64_t resume = at + i + skip;
          if (resume > f.Size()) return Truncated(kUnknown, "ends inside binary data");
          if (resume >= at + n) {
            next = resume;  // read on from there
            break;
          }
          i = static_cast<std::size_t>(resume - at) - 1;
          continue;
        }
      }
      if (state == State::kEscape) {
        state = letter ? State::kWord : State::kText;
        wordLength = 0;
        if (letter) word[wordLength++] = static_cast<char>(c);
        continue;
      }
      if (c == '\\') {
        state = State::kEscape;
      } else if (c == '{') {
        ++depth;
      } else if (c == '}') {
        if (depth == 0) return Damaged("a closing brace without its group");
        if (--depth == 0) {
          std::uint64_t end = at + i + 1;
          unsigned char tail[2] = {0, 0};
          const std::size_t got = f.ReadSome(end, tail, 2);
          if (got > 0 && tail[0] == '\r') end += (got == 2 && tail[1] == '\n') ? 2 : 1;
          else if (got > 0 && tail[0] == '\n') end += 1;
          return Intact(end, "groups balanced to the closing brace at " + std::to_string(at + i));
        }
      }
    }
    at = next;
  }
  return Truncated(kUnknown, "ends inside group " + std::to_string(depth));
}

namespace {

const CheckerEntry kDocuments[] = {
    {"txt", CheckText, false},
    {"pdf", CheckPdf},
    {"msi", CheckCompound},
    {"doc", CheckCompound},
    {"xls", CheckCompound},
    {"ppt", CheckCompound},
    {"sqlite", CheckSqlite},
    {"rtf", CheckRtf},
    {"class", CheckJavaClass},
    {"wasm", CheckWasm, false},
    {"pyc", CheckPythonBytecode},
    {"html", CheckMarkup, false},
    {"xml", CheckMarkup, false},
    {"svg", CheckMarkup, false},
    {"vcf", CheckVcard, false},
    {"ics", CheckCalendar, false},
    {"xpm", CheckXpm, false},
    {"ps", CheckText, false},
    {"ttf", CheckSfnt, true, true},
    {"otf", CheckSfnt, true, true},
    {"ttc", CheckSfnt, true, true},
    {"woff", CheckWoff},
    {"woff2", CheckWoff},
    {"elf", CheckElf},
    {"so", CheckElf},
    {"exe", CheckPe},
    {"dll", CheckPe},
};

}  // namespace

CheckerTable DocumentCheckers() { return {kDocuments, sizeof kDocuments / sizeof kDocuments[0]}; }

}  // namespace tessaro::formats
