// PDF: where the file ends is told only by its last "%%EOF", and a disk's
// slack often holds another PDF's "%%EOF" too. So every "%%EOF" is taken only
// when the "startxref" before it points at a cross-reference (a table "xref"
// or a cross-reference stream) of this very file, checked down to the first
// object the table names. An incremental update appends objects and a
// cross-reference section whose /Prev names the section before it: an update
// counts only when its cross-reference lies after the end found so far and
// its /Prev continues that chain. Editors write comments between a trailer and
// its "startxref" (exiftool marks its updates so). A linearized file names its
// own length in its first object, which settles where its first revision
// ends; updates may follow it like any other.

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/find_bytes.h"
#include "engine/formats/documents_parts.h"
#include "engine/formats/format_row.h"
#include "engine/names/name_readers.h"

namespace tessaro::formats {

namespace {

bool IsSpace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == 0; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at `*at` (at most 15 digits); false when none.
bool ParseNumber(const unsigned char* p, std::size_t n, std::size_t* at, std::uint64_t* value) {
  std::size_t i = *at;
  std::uint64_t v = 0;
  const std::size_t start = i;
  while (i < n && IsDigit(p[i]) && i - start < 15) v = v * 10 + (p[i++] - '0');
  if (i == start || (i < n && IsDigit(p[i]))) return false;
  *at = i;
  *value = v;
  return true;
}

void SkipSpace(const unsigned char* p, std::size_t n, std::size_t* at) {
  while (*at < n && IsSpace(p[*at])) ++*at;
}

// White space and comments, as may lie between a cross-reference section and
// its "startxref" ("%EndExifToolUpdate 2336"). A "%%EOF" is no such comment:
// it ends a revision, and the section before it is not the one after it.
void SkipFill(const unsigned char* p, std::size_t n, std::size_t* at) {
  for (;;) {
    SkipSpace(p, n, at);
    if (*at >= n || p[*at] != '%' || (n - *at >= 5 && std::memcmp(p + *at, "%%EOF", 5) == 0)) return;
    while (*at < n && p[*at] != '\n' && p[*at] != '\r') ++*at;
  }
}

const unsigned char* Find(const unsigned char* p, std::size_t n, const char* needle) {
  const std::size_t m = std::strlen(needle);
  const unsigned char* end = p + n;
  const unsigned char* hit = std::search(p, end, needle, needle + m);
  return hit == end ? nullptr : hit;
}

// Whether "<number> <generation> obj" begins at `offset`; the object's number.
bool ObjectAt(Fragment& f, std::uint64_t offset, std::uint64_t* number, unsigned char* buffer, std::size_t size,
              std::size_t* got) {
  const std::size_t n = f.ReadSome(offset, buffer, size);
  *got = n;
  std::size_t at = 0;
  std::uint64_t generation = 0;
  if (!ParseNumber(buffer, n, &at, number) || at >= n || !IsSpace(buffer[at])) return false;
  SkipSpace(buffer, n, &at);
  if (!ParseNumber(buffer, n, &at, &generation) || at >= n || !IsSpace(buffer[at])) return false;
  SkipSpace(buffer, n, &at);
  return at + 3 <= n && std::memcmp(buffer + at, "obj", 3) == 0;
}

// The number that follows the key `key` (e.g. "/Length") at `p[*at]`, when
// the key is whole there and its value a direct number; moves past what it read.
void KeyNumber(const unsigned char* p, std::size_t n, std::size_t* at, const char* key, std::uint64_t* value) {
  const std::size_t m = std::strlen(key);
  if (n - *at <= m || std::memcmp(p + *at, key, m) != 0 || !IsSpace(p[*at + m])) return;
  *at += m;
  SkipSpace(p, n, at);
  std::uint64_t number = 0;
  std::size_t end = *at;
  if (!ParseNumber(p, n, &end, &number)) return;
  // "/Length 12 0 R" is a reference, not a length.
  std::size_t after = end;
  SkipSpace(p, n, &after);
  std::uint64_t generation = 0;
  std::size_t r = after;
  if (ParseNumber(p, n, &r, &generation)) {
    SkipSpace(p, n, &r);
    if (r < n && p[r] == 'R') return;
  }
  *at = end;
  *value = number;
}

// Scans a dictionary "<< ... >>" at the start of `p` (strings, hex strings,
// comments and nested dictionaries skipped); the offset just after it, or 0
// when it does not close inside `n`. `length` gets its /Length and `prev` its
// /Prev, each when it is a direct number.
std::size_t ScanDictionary(const unsigned char* p, std::size_t n, std::uint64_t* length, std::uint64_t* prev) {
  if (n < 2 || p[0] != '<' || p[1] != '<') return 0;
  int depth = 0;
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c == '<' && i + 1 < n && p[i + 1] == '<') {
      ++depth;
      i += 2;
    } else if (c == '>' && i + 1 < n && p[i + 1] == '>') {
      i += 2;
      if (--depth == 0) return i;
    } else if (c == '<') {
      while (i < n && p[i] != '>') ++i;
      ++i;
    } else if (c == '(') {
      int nest = 0;
      for (; i < n; ++i) {
        if (p[i] == '\\') {
          ++i;
        } else if (p[i] == '(') {
          ++nest;
        } else if (p[i] == ')' && --nest == 0) {
          break;
        }
      }
      ++i;
    } else if (c == '%') {
      while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
    } else if (c == '/' && depth == 1) {
      const std::size_t from = i;
      KeyNumber(p, n, &i, "/Length", length);
      if (i == from) KeyNumber(p, n, &i, "/Prev", prev);
      if (i == from) ++i;
    } else {
      ++i;
    }
  }
  return 0;
}

// Whether `word` begins at `*at` (after white space); moves past it.
bool Expect(const unsigned char* p, std::size_t n, std::size_t* at, const char* word) {
  SkipSpace(p, n, at);
  const std::size_t m = std::strlen(word);
  if (n - *at < m || std::memcmp(p + *at, word, m) != 0) return false;
  *at += m;
  return true;
}

// Whether a cross-reference of this file begins at `offset`: a table with
// its subsections and trailer, or a cross-reference stream object, ending no
// further than `startxref`. Where it ends (white space and comments skipped),
// or kUnknown; `prev` gets its /Prev, or kUnknown when it names none.
// A section that ends right at the "startxref" that points at it runs without
// a gap; so a "startxref" left in the slack by an older copy of the file,
// whose own trailer is gone, is not taken.
// `budget` counts the reads left: many "%%EOF"s that point at one long table
// must not make the check quadratic.
std::uint64_t CrossReferenceAt(Fragment& f, std::uint64_t offset, std::uint64_t startxref, std::uint64_t* budget,
                               std::uint64_t* prev) {
  unsigned char buffer[4096];
  *prev = kUnknown;
  std::size_t n = 0;
  std::uint64_t number = 0;
  std::size_t at = 0;
  if (ObjectAt(f, offset, &number, buffer, sizeof buffer, &n)) {
    // A cross-reference stream: /Type /XRef, a direct /Length, its data, then
    // "endstream endobj" just before the "startxref".
    const unsigned char* open = Find(buffer, n, "<<");
    if (open == nullptr) return kUnknown;
    at = static_cast<std::size_t>(open - buffer);
    std::uint64_t length = kUnknown;
    const std::size_t close = ScanDictionary(buffer + at, n - at, &length, prev);
    if (close == 0 || length == kUnknown || Find(buffer + at, close, "/XRef") == nullptr) return kUnknown;
    at += close;
    if (!Expect(buffer, n, &at, "stream")) return kUnknown;
    if (at < n && buffer[at] == '\r') ++at;
    if (at >= n || buffer[at] != '\n') return kUnknown;
    const std::uint64_t data = offset + at + 1;
    if (length > startxref || data > startxref - length) return kUnknown;
    n = f.ReadSome(data + length, buffer, sizeof buffer);
    at = 0;
    if (!Expect(buffer, n, &at, "endstream") || !Expect(buffer, n, &at, "endobj")) return kUnknown;
    SkipFill(buffer, n, &at);
    return data + length + at;
  }
  if (n < 4 || std::memcmp(buffer, "xref", 4) != 0) return kUnknown;
  // Subsections: "first count", then count entries of 20 bytes
  // ("oooooooooo ggggg n" and a two-byte line end). The first object in use
  // must be where the table says.
  bool objectSeen = false;
  std::uint64_t pos = offset + 4;
  for (;;) {
    if (*budget == 0) return kUnknown;
    --*budget;
    n = f.ReadSome(pos, buffer, 64);
    at = 0;
    SkipSpace(buffer, n, &at);
    if (n - at >= 7 && std::memcmp(buffer + at, "trailer", 7) == 0) {
      pos += at + 7;
      break;
    }
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    if (!ParseNumber(buffer, n, &at, &first) || at >= n || buffer[at] != ' ') return kUnknown;
    ++at;
    if (!ParseNumber(buffer, n, &at, &count) || count == 0) return kUnknown;
    SkipSpace(buffer, n, &at);
    pos += at;
    if (count > (startxref - std::min(pos, startxref)) / 20) return kUnknown;
    const std::uint64_t entries = pos;
    pos += count * 20;
    if (objectSeen) continue;
    for (std::uint64_t k = 0; k < count && k < 200; ++k) {
      unsigned char e[20];
      if (!f.Read(entries + 20 * k, e, sizeof e)) return kUnknown;
      if (!std::all_of(e, e + 10, IsDigit) || e[10] != ' ' || !std::all_of(e + 11, e + 16, IsDigit) || e[16] != ' ' ||
          (e[17] != 'n' && e[17] != 'f')) {
        return kUnknown;
      }
      if (e[17] == 'f') continue;
      std::uint64_t objectOffset = 0;
      std::size_t p = 0;
      unsigned char object[64];
      std::size_t got = 0;
      std::uint64_t objectNumber = 0;
      if (!ParseNumber(e, 10, &p, &objectOffset) ||
          !ObjectAt(f, objectOffset, &objectNumber, object, sizeof object, &got) || objectNumber != first + k) {
        return kUnknown;
      }
      objectSeen = true;
      break;
    }
  }
  // The trailer's dictionary, then straight to the "startxref".
  if (pos >= startxref) return kUnknown;
  n = f.ReadSome(pos, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, startxref - pos)));
  at = 0;
  SkipSpace(buffer, n, &at);
  std::uint64_t unused = 0;
  const std::size_t close = ScanDictionary(buffer + at, n - at, &unused, prev);
  if (close == 0) return kUnknown;
  at += close;
  SkipFill(buffer, n, &at);
  return pos + at;
}

// The offset the "startxref" just before `eof` gives, or kUnknown; `where`
// gets the keyword's own offset.
std::uint64_t StartXref(Fragment& f, std::uint64_t eof, std::uint64_t* where) {
  unsigned char buffer[96];
  const std::uint64_t from = eof > sizeof buffer ? eof - sizeof buffer : 0;
  const std::size_t n = f.ReadSome(from, buffer, static_cast<std::size_t>(eof - from));
  const unsigned char* last = nullptr;
  for (const unsigned char* hit = Find(buffer, n, "startxref"); hit != nullptr;
       hit = Find(hit + 1, n - static_cast<std::size_t>(hit + 1 - buffer), "startxref")) {
    last = hit;
  }
  if (last == nullptr) return kUnknown;
  *where = from + static_cast<std::uint64_t>(last - buffer);
  std::size_t at = static_cast<std::size_t>(last - buffer) + 9;
  SkipSpace(buffer, n, &at);
  std::uint64_t offset = 0;
  if (!ParseNumber(buffer, n, &at, &offset)) return kUnknown;
  SkipSpace(buffer, n, &at);
  return at == n ? offset : kUnknown;
}

// The length a linearized file declares in its first object (/L), or kUnknown.
std::uint64_t LinearizedLength(Fragment& f) {
  unsigned char buffer[1024];
  const std::size_t n = f.ReadSome(0, buffer, sizeof buffer);
  const unsigned char* mark = Find(buffer, n, "/Linearized");
  if (mark == nullptr) return kUnknown;
  const unsigned char* close = Find(mark, n - static_cast<std::size_t>(mark - buffer), ">>");
  const std::size_t end = close == nullptr ? n : static_cast<std::size_t>(close - buffer);
  for (std::size_t i = static_cast<std::size_t>(mark - buffer) + 11; i + 3 < end; ++i) {
    if (buffer[i] == '/' && buffer[i + 1] == 'L' && (IsSpace(buffer[i + 2]) || IsDigit(buffer[i + 2]))) {
      std::size_t at = i + 2;
      SkipSpace(buffer, end, &at);
      std::uint64_t length = 0;
      return ParseNumber(buffer, end, &at, &length) ? length : kUnknown;
    }
  }
  return kUnknown;
}

// Whether an object begins at `at`, after line ends, blanks and comments
// (exiftool opens its update with one) but no zeros: an update's first
// object right after an "%%EOF", so that the file goes on there.
bool ObjectFollows(Fragment& f, std::uint64_t at) {
  unsigned char buffer[512];
  const std::size_t n = f.ReadSome(at, buffer, sizeof buffer);
  std::size_t i = 0;
  for (;;) {
    while (i < n && (buffer[i] == ' ' || buffer[i] == '\n' || buffer[i] == '\r' || buffer[i] == '\t')) ++i;
    if (i >= n || buffer[i] != '%' || (n - i >= 5 && std::memcmp(buffer + i, "%%EOF", 5) == 0)) break;
    while (i < n && buffer[i] != '\n' && buffer[i] != '\r') ++i;
  }
  std::uint64_t number = 0;
  std::size_t got = 0;
  unsigned char object[64];
  return i < n && IsDigit(buffer[i]) && ObjectAt(f, at + i, &number, object, sizeof object, &got);
}

// Whether an update may begin after the end at `at`: past white space (a
// cluster's slack of zeros included) and comments, an object or a
// cross-reference table. Anything else, another PDF's "%PDF-" among it,
// closes the file, and no later "%%EOF" is looked for: in a fragment of many
// files that search would run through all the files after this one.
bool UpdateMayFollow(Fragment& f, std::uint64_t at) {
  constexpr std::uint64_t kMostFill = 1 << 20;
  unsigned char buffer[4096];
  bool comment = false;
  for (const std::uint64_t limit = at + kMostFill; at < limit;) {
    const std::size_t n = f.ReadSome(at, buffer, sizeof buffer);
    if (n == 0) return false;
    std::size_t i = 0;
    for (; i < n; ++i) {
      const unsigned char c = buffer[i];
      if (comment) {
        comment = c != '\n' && c != '\r';
      } else if (c == '%') {
        if (n - i < 5 && n == sizeof buffer) break;  // read the comment's start whole
        if (n - i >= 5 && (std::memcmp(buffer + i, "%PDF-", 5) == 0 || std::memcmp(buffer + i, "%%EOF", 5) == 0)) {
          return false;
        }
        comment = true;
      } else if (!IsSpace(c)) {
        return IsDigit(c) || c == 'x';
      }
    }
    at += i;
  }
  return false;
}

}  // namespace

CheckResult CheckPdf(Fragment& f, const CheckOptions&) {
  unsigned char head[5];
  if (!f.Read(0, head, 5) || std::memcmp(head, "%PDF-", 5) != 0) return Damaged("no %PDF- header");
  const std::uint64_t declared = LinearizedLength(f);
  std::uint64_t end = kUnknown;     // after the last "%%EOF" taken, with its line end
  bool endOpen = false;             // that "%%EOF" is the fragment's last bytes: a line end may be missing
  std::uint64_t chain = kUnknown;   // the cross-reference that "%%EOF"'s startxref gives
  std::uint64_t unchained = 0;      // after a later section that names another before it
  std::uint64_t updates = 0;
  std::uint64_t markers = 0;
  std::uint64_t budget = f.Size() / 8 + 4096;
  for (std::uint64_t at = FindBytes(f, 0, f.Size(), "%%EOF", 5); at != kUnknown;
       at = FindBytes(f, at + 5, f.Size(), "%%EOF", 5)) {
    ++markers;
    std::uint64_t keyword = 0;
    const std::uint64_t xref = StartXref(f, at, &keyword);
    if (xref == kUnknown || xref >= at) continue;
    // Before a linearized file's declared end only its first-page trailer
    // stands; after an end, only an update whose cross-reference follows it.
    std::uint64_t after = at + 5;
    unsigned char tail[2] = {0, 0};
    const std::size_t got = f.ReadSome(after, tail, 2);
    const bool open = got == 0 || (got == 1 && tail[0] == '\r');
    if (got > 0 && tail[0] == '\n') {
      after += 1;
    } else if (got > 0 && tail[0] == '\r') {
      after += (got == 2 && tail[1] == '\n') ? 2 : 1;
    }
    if (declared != kUnknown && after < declared) continue;
    if (end != kUnknown && xref < end) continue;
    // A linearized file's last "startxref" points back at the first page's
    // cross-reference, near the start: there the declared length vouches.
    std::uint64_t prev = kUnknown;
    const std::uint64_t section = CrossReferenceAt(f, xref, keyword, &budget, &prev);
    if (section != keyword && !(section != kUnknown && after == declared)) continue;
    // An update names the section it updates. One that names another may be
    // a leftover of an older revision of this file, or a writer's slip: its
    // bytes are kept, but not called the file's end.
    if (end != kUnknown && prev != chain) {
      unchained = std::max(unchained, after);
    } else {
      end = after;
      chain = xref;
      endOpen = open;
      ++updates;
    }
    if (!UpdateMayFollow(f, after)) break;
  }
  if (f.Failed()) return Unchecked("a read failed");
  if (declared != kUnknown && declared > f.Size()) {
    return Truncated(declared, "linearized, expected " + std::to_string(declared) + " bytes");
  }
  if (end == kUnknown) {
    if (markers == 0) return Truncated(declared, "no %%EOF");
    return Unchecked("no %%EOF whose startxref points at a cross-reference of this file");
  }
  if (endOpen) return Unchecked("ends at %%EOF at the fragment's end: its line end may be cut off");
  if (ObjectFollows(f, end)) {
    return Unchecked("objects of an update follow the end at " + std::to_string(end) + ", which has no %%EOF");
  }
  if (unchained > end) {
    return Unchecked("a cross-reference section after the end at " + std::to_string(end) +
                     " names no earlier section of this file in its /Prev");
  }
  return Intact(end, std::to_string(updates) + (updates == 1 ? " section" : " sections") +
                         ", every startxref at a cross-reference, ends at %%EOF at " + std::to_string(end));
}

std::uint64_t FindBytes(Fragment& f, std::uint64_t from, std::uint64_t limit, const char* needle, std::size_t size) {
  unsigned char buffer[65536];
  if (size == 0 || size > 64) return kUnknown;
  limit = std::min(limit, f.Size());
  for (std::uint64_t at = from; at < limit && limit - at >= size;) {
    const std::size_t n =
        f.ReadSome(at, buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, limit - at)));
    if (n < size) return kUnknown;
    const unsigned char* hit = tessaro::FindBytes(buffer, n, reinterpret_cast<const unsigned char*>(needle), size);
    if (hit != nullptr) return at + static_cast<std::uint64_t>(hit - buffer);
    if (at + n >= limit) return kUnknown;
    at += n - (size - 1);
  }
  return kUnknown;
}

extern const FormatRow kPdfRow{

    .extensions = {"pdf"},
    .checker = CheckPdf,
    .nameReader = names::PdfTitle,
    .nameReaderUsesCheck = true
};

}  // namespace tessaro::formats
