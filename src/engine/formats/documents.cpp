// Documents and text: where each format's structure says the file ends.

#include <algorithm>
#include <cstring>

#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

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
  if (end == f.Size() && EndsOnSector(f)) return Unchecked("text up to a sector's end: the file may go on");
  if (end == f.Size()) return Intact(f.Size(), "text to the fragment's last byte");
  if (end == 0) return Damaged("begins with a zero byte");
  if (!ZerosToSectorEnd(f, end)) {
    if (f.Failed()) return Unchecked("a read failed");
    return Unchecked("a zero at " + std::to_string(end) + " with more after it in its sector");
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

bool StartsWith(const char* line, std::size_t n, const char* prefix) {
  const std::size_t m = std::strlen(prefix);
  return n >= m && std::memcmp(line, prefix, m) == 0;
}

// The count after a "%%BeginBinary:" or "%%BeginData:" comment; `bytes` false
// when the data is counted in lines.
std::uint64_t DataCount(const char* line, std::size_t n, bool& bytes) {
  std::size_t i = static_cast<std::size_t>(std::find(line, line + n, ':') - line) + 1;
  while (i < n && line[i] == ' ') ++i;
  std::uint64_t count = 0;
  for (; i < n && line[i] >= '0' && line[i] <= '9' && count < UINT32_MAX; ++i) count = count * 10 + (line[i] - '0');
  bytes = std::search(line, line + n, "Lines", "Lines" + 5) == line + n;
  return count;
}

// Whether the bytes at `end` are no part of the file: zeros to the end of
// their sector (as a disk leaves after a file), or another PostScript file.
bool SlackAfter(Fragment& f, std::uint64_t end) {
  unsigned char next[4];
  if (kSectorSize - end % kSectorSize >= 4 && f.ReadSome(end, next, 4) == 4 && (std::memcmp(next, "%!PS", 4) == 0 || Le32(next) == 0xC6D3D0C5u)) return true;
  return ZerosToSectorEnd(f, end);
}

// PostScript that follows the document structuring conventions, as EPS
// must: it ends with its "%%EOF" line. The first one reached from the start
// outside an embedded document, and outside binary data the comments count,
// is this file's; another file's in the slack comes later.
CheckResult CheckStructuredPostScript(Fragment& f, const CheckOptions& options) {
  unsigned char block[65536];
  std::uint64_t depth = 0;
  bool lineStart = true;
  for (std::uint64_t at = 0; at < f.Size();) {
    const std::size_t n = f.ReadSome(at, block, sizeof block);
    if (n == 0) return Unchecked("a read failed");
    std::uint64_t next = at + n;
    for (std::size_t i = 0; i < n; ++i) {
      const bool comment = lineStart && block[i] == '%';
      lineStart = block[i] == '\n' || block[i] == '\r';
      if (!comment) continue;
      char line[128];
      const std::size_t got = f.ReadSome(at + i, line, sizeof line);
      const std::size_t length = static_cast<std::size_t>(std::find_if(line, line + got, [](char c) {
                                   return c == '\n' || c == '\r';
                                 }) - line);
      std::uint64_t lineEnd = at + i + length;
      if (length < got) lineEnd += (line[length] == '\r' && length + 1 < got && line[length + 1] == '\n') ? 2 : 1;
      const bool eofLine = StartsWith(line, length, "%%EOF") &&
                           std::all_of(line + 5, line + length, [](char c) { return c == ' ' || c == '\t'; });
      if (eofLine && depth == 0) {
        // Files for printers may end with a Control-D after it.
        unsigned char eot = 0;
        if (f.ReadSome(lineEnd, &eot, 1) == 1 && eot == 4) ++lineEnd;
        if (lineEnd == f.Size() || SlackAfter(f, lineEnd)) {
          return Intact(lineEnd, "structured PostScript to its %%EOF line");
        }
        return Unchecked("data after the %%EOF line at " + std::to_string(at + i));
      }
      if (StartsWith(line, length, "%%BeginDocument")) ++depth;
      if (StartsWith(line, length, "%%EndDocument") && depth > 0) --depth;
      bool bytes = true;
      if (StartsWith(line, length, "%%BeginBinary:") || StartsWith(line, length, "%%BeginData:")) {
        const std::uint64_t count = DataCount(line, length, bytes);
        if (bytes) {
          // Read on after the data.
          next = lineEnd + count;
          lineStart = false;
          break;
        }
      }
    }
    at = next;
  }
  // No end line (or none outside what it embeds): as any PostScript text.
  return CheckText(f, options);
}

}  // namespace

// Encapsulated PostScript: structured PostScript text, or the DOS binary
// form, whose 30-byte header gives the offset and length of the PostScript
// and of the optional WMF and TIFF previews: the file ends with the furthest.
// (The header's checksum is not checked: writers put FFFF there, and the
// few that do not disagree on how to sum.)
CheckResult CheckEps(Fragment& f, const CheckOptions& options) {
  unsigned char h[30];
  if (!f.Read(0, h, 4) || Le32(h) != 0xC6D3D0C5u) return CheckStructuredPostScript(f, options);
  if (!f.Read(0, h, sizeof h)) return Truncated(kUnknown, "ends inside the binary header");
  struct Section {
    const char* name;
    std::uint64_t offset, length;
  } sections[3] = {{"PostScript", Le32(h + 4), Le32(h + 8)},
                   {"WMF preview", Le32(h + 12), Le32(h + 16)},
                   {"TIFF preview", Le32(h + 20), Le32(h + 24)}};
  if (sections[0].length == 0) return Damaged("the binary header gives no PostScript");
  std::uint64_t end = sizeof h;
  for (const Section& a : sections) {
    if (a.length == 0) continue;
    if (a.offset < sizeof h) return Damaged("the " + std::string(a.name) + " overlaps the binary header");
    for (const Section& b : sections) {
      if (&a != &b && b.length > 0 && a.offset < b.offset + b.length && b.offset < a.offset + a.length) {
        return Damaged(std::string("the ") + a.name + " and the " + b.name + " overlap");
      }
    }
    end = std::max(end, a.offset + a.length);
  }
  if (end > f.Size()) return Truncated(end, "the binary header says " + std::to_string(end) + " bytes");
  // Each section begins as its kind does.
  for (int i = 0; i < 3; ++i) {
    const Section& s = sections[i];
    unsigned char m[4];
    if (s.length == 0) continue;
    if (s.length < 4 || !f.Read(s.offset, m, 4)) return Damaged("the " + std::string(s.name) + " is too short");
    const bool ok = i == 0   ? std::memcmp(m, "%!PS", 4) == 0
                    : i == 2 ? std::memcmp(m, "II*", 4) == 0 || std::memcmp(m, "MM\0*", 4) == 0
                             : Le32(m) == 0x9AC6CDD7u || Le32(m) == 0x00090001u || Le32(m) == 0x00090002u;
    if (!ok) return Damaged("the " + std::string(s.name) + " does not begin as one");
  }
  return Intact(end, "the binary header's sections, " + std::to_string(end) + " bytes");
}

extern const FormatRow kTextRow{.extensions = {"txt", "ps", "eml", "mht"}, .checker = CheckText, .knowsWhenCut = false};
extern const FormatRow kSqliteRow{.extensions = {"sqlite"}, .checker = CheckSqlite};
extern const FormatRow kRtfRow{.extensions = {"rtf"}, .checker = CheckRtf};
extern const FormatRow kHtmlRow{
    .extensions = {"html", "htm", "xhtml"},
    .checker = CheckMarkup,
    .nameReader = names::HtmlTitle,
    .knowsWhenCut = false
};
extern const FormatRow kMarkupRow{.extensions = {"xml", "svg"}, .checker = CheckMarkup, .knowsWhenCut = false};
extern const FormatRow kVcardRow{.extensions = {"vcf"}, .checker = CheckVcard, .knowsWhenCut = false};
extern const FormatRow kCalendarRow{.extensions = {"ics"}, .checker = CheckCalendar, .knowsWhenCut = false};
extern const FormatRow kXpmRow{.extensions = {"xpm"}, .checker = CheckXpm, .knowsWhenCut = false};
extern const FormatRow kEpsRow{.extensions = {"eps"}, .checker = CheckEps, .knowsWhenCut = false};

}  // namespace tessaro::formats
