// A PDF's title: /Title of the Info dictionary that the trailer (or a
// cross-reference stream's dictionary) names with "/Info N G R". The object
// is found by scanning for "N G obj", or else inside a compressed object
// stream (/Type /ObjStm). Only the file's own bytes are read: where the PDF
// checker proves where the file ends, what follows (slack that may hold
// another PDF) is left out.

#include <cstring>

#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

bool IsWhite(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool IsDelimiter(char c) { return IsWhite(c) || std::strchr("()<>[]{}/%", c) != nullptr; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A PDF object stream may hold hundreds of small objects; this much of one is read.
constexpr std::size_t kObjectStreamBytes = 4 * kMetadataBytes;

struct Reference {
  std::uint64_t number = 0;
  std::uint64_t generation = 0;
};

void SkipWhite(std::string_view s, std::size_t& at) {
  while (at < s.size() && IsWhite(s[at])) ++at;
}

bool Number(std::string_view s, std::size_t& at, std::uint64_t& value) {
  SkipWhite(s, at);
  const std::size_t start = at;
  value = 0;
  while (at < s.size() && IsDigit(s[at]) && at - start < 10) value = value * 10 + static_cast<unsigned>(s[at++] - '0');
  return at > start && (at == s.size() || !IsDigit(s[at]));
}

// "N G R" at `at`.
bool ParseReference(std::string_view s, std::size_t at, Reference& r) {
  if (!Number(s, at, r.number) || !Number(s, at, r.generation)) return false;
  SkipWhite(s, at);
  return at < s.size() && s[at] == 'R' && (at + 1 == s.size() || IsDelimiter(s[at + 1]));
}

// The value after the key `key` (with its slash) in `dict`, or npos.
std::size_t KeyValue(std::string_view dict, std::string_view key) {
  for (std::size_t at = dict.find(key); at != std::string_view::npos; at = dict.find(key, at + 1)) {
    const std::size_t after = at + key.size();
    if (after < dict.size() && IsDelimiter(dict[after])) return after;
  }
  return std::string_view::npos;
}

// The bytes of a literal string "(...)" or a hex string "<...>" at `at`.
bool ParseString(std::string_view s, std::size_t at, std::string& out) {
  SkipWhite(s, at);
  out.clear();
  if (at >= s.size()) return false;
  if (s[at] == '<') {
    int high = -1;
    for (++at; at < s.size() && s[at] != '>'; ++at) {
      const char c = s[at];
      if (IsWhite(c)) continue;
      const int d = HexValue(c);
      if (d < 0) return false;
      if (high < 0) {
        high = d;
      } else {
        out += static_cast<char>(high << 4 | d);
        high = -1;
      }
    }
    if (at >= s.size()) return false;
    if (high >= 0) out += static_cast<char>(high << 4);  // an odd last digit is followed by 0
    return true;
  }
  if (s[at] != '(') return false;
  int depth = 1;
  for (++at; at < s.size(); ++at) {
    char c = s[at];
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return true;
    if (c != '\\') {
      // An end of line in a string is a line feed, however written.
      if (c == '\r') {
        if (at + 1 < s.size() && s[at + 1] == '\n') ++at;
        c = '\n';
      }
      out += c;
      continue;
    }
    if (++at >= s.size()) return false;
    c = s[at];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case '\r':  // a backslash before an end of line continues the string
        if (at + 1 < s.size() && s[at + 1] == '\n') ++at;
        break;
      case '\n': break;
      default:
        if (c >= '0' && c <= '7') {
          int value = 0;
          for (int k = 0; k < 3 && at < s.size() && s[at] >= '0' && s[at] <= '7'; ++k) {
            value = value * 8 + (s[at++] - '0');
          }
          --at;
          out += static_cast<char>(value & 0xFF);
        } else {
          out += c;  // \( \) \\ and any other character stand for themselves
        }
    }
  }
  return false;
}

// PDFDocEncoding, where it differs from Latin-1: 0x18-0x1F and 0x80-0xA0.
std::string FromPdfDoc(std::string_view bytes) {
  static const std::uint16_t kLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
  static const std::uint16_t kHigh[33] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039,
                                          0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A,
                                          0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017D, 0x0131,
                                          0x0142, 0x0153, 0x0161, 0x017E, 0xFFFD, 0x20AC};
  std::string out;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    const std::uint32_t c = b >= 0x18 && b <= 0x1F ? kLow[b - 0x18] : b >= 0x80 && b <= 0xA0 ? kHigh[b - 0x80] : b;
    AppendUtf8(out, c);
  }
  return out;
}

// A text string's bytes as UTF-8: UTF-16BE or UTF-8 after a byte order
// mark, else PDFDocEncoding.
std::string TextString(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    return Utf16ToUtf8(bytes.substr(2), true);
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    return IsUtf8(bytes.substr(3)) ? std::string(bytes.substr(3)) : std::string();
  }
  return FromPdfDoc(bytes);
}

// How much of the file's end is looked through first for an object.
constexpr std::uint64_t kTail = 1 << 20;

class Pdf {
 public:
  explicit Pdf(Fragment& f) : f_(f) {}

  // `check` tells where the file ends: slack after it may hold an older
  // file's trailer.
  std::string Title(const CheckResult& check) {
    end_ = check.verdict == formats::Verdict::kIntact && check.length <= f_.Size() ? check.length : f_.Size();
    Reference info;
    if (!FindInfo(info)) return {};
    return StringOf(ObjectText(info), "/Title", 1);
  }

 private:
  // The last "/Info N G R" within the file's last 1 MiB, where its trailer
  // lies, or the first in its first 1 MiB (a linearized file's first page).
  bool FindInfo(Reference& info) {
    const std::uint64_t tail = end_ > kTail ? end_ - kTail : 0;
    std::uint64_t found = formats::kUnknown;
    for (std::uint64_t at = Find(f_, tail, end_, "/Info"); at != formats::kUnknown;
         at = Find(f_, at + 1, end_, "/Info")) {
      if (ReferenceAt(at + 5, info)) found = at;
    }
    for (std::uint64_t at = Find(f_, 0, std::min(end_, kTail), "/Info");
         found == formats::kUnknown && at != formats::kUnknown; at = Find(f_, at + 1, std::min(end_, kTail), "/Info")) {
      if (ReferenceAt(at + 5, info)) found = at;
    }
    if (found == formats::kUnknown || !ReferenceAt(found + 5, info)) return false;
    // An encrypted file's strings are ciphered: no title to read.
    const std::uint64_t from = found > 1024 ? found - 1024 : 0;
    return Find(f_, from, std::min(end_, found + 1024), "/Encrypt") == formats::kUnknown;
  }

  bool ReferenceAt(std::uint64_t at, Reference& r) {
    const std::string text = ReadText(f_, at, 32);
    return !text.empty() && IsDelimiter(text[0]) && ParseReference(text, 0, r);
  }

  // The text of object `r` from its "obj" keyword on (its dictionary
  // first), or empty.
  std::string ObjectText(const Reference& r) {
    const std::string head = std::to_string(r.number) + " " + std::to_string(r.generation) + " obj";
    // The last definition counts: an incremental update appends new ones.
    // Most writers put the Info dictionary near the end, so the end is
    // looked through first; the whole file only when it is not there.
    const std::uint64_t tail = end_ > kTail ? end_ - kTail : 0;
    std::uint64_t last = LastObject(head, tail, end_);
    if (last == formats::kUnknown && tail > 0) last = LastObject(head, 0, tail + head.size());
    if (last != formats::kUnknown) {
      std::string text =
          ReadText(f_, last + head.size(),
                   static_cast<std::size_t>(std::min<std::uint64_t>(end_ - last - head.size(), kMetadataBytes)));
      text.resize(std::min(text.size(), text.find("endobj")));
      return text;
    }
    return CompressedObject(r.number);
  }

  // The last "N G obj" that begins in [from, limit), or kUnknown.
  std::uint64_t LastObject(const std::string& head, std::uint64_t from, std::uint64_t limit) {
    std::uint64_t last = formats::kUnknown;
    limit = std::min(limit, end_);
    for (std::uint64_t at = Find(f_, from, limit, head); at != formats::kUnknown; at = Find(f_, at + 1, limit, head)) {
      char before = ' ';
      if (at == 0 || (f_.Read(at - 1, &before, 1) && !IsDigit(before))) last = at;
    }
    return last;
  }

  // Object `number` from an object stream: "/Type /ObjStm", "/N" pairs of
  // object number and offset, the objects after "/First" bytes, deflated.
  std::string CompressedObject(std::uint64_t number) {
    int streams = 0;
    for (std::uint64_t at = Find(f_, 0, end_, "/ObjStm"); at != formats::kUnknown && streams < 256;
         at = Find(f_, at + 1, end_, "/ObjStm"), ++streams) {
      const std::uint64_t from = at > 1024 ? at - 1024 : 0;
      std::string around = ReadText(f_, from, 2048);
      const std::size_t here = static_cast<std::size_t>(at - from);
      const std::size_t open = around.rfind("obj", here), stream = around.find("stream", here);
      if (open == std::string::npos || stream == std::string::npos) continue;
      const std::string_view dict = std::string_view(around).substr(open, stream - open);
      std::uint64_t count = 0, first = 0;
      std::size_t v = KeyValue(dict, "/N");
      if (v == std::string_view::npos || !Number(dict, v, count)) continue;
      v = KeyValue(dict, "/First");
      if (v == std::string_view::npos || !Number(dict, v, first)) continue;
      const std::size_t filter = KeyValue(dict, "/Filter");
      if (filter == std::string_view::npos || dict.find("/FlateDecode", filter) == std::string_view::npos) continue;
      std::size_t data = stream + 6;
      if (data < around.size() && around[data] == '\r') ++data;
      if (data >= around.size() || around[data] != '\n') continue;
      std::string objects;
      Inflate(f_, from + data + 1, end_, false, kObjectStreamBytes, objects);
      std::size_t p = 0;
      for (std::uint64_t k = 0; k < count && k < 100000; ++k) {
        std::uint64_t n = 0, offset = 0;
        if (!Number(objects, p, n) || !Number(objects, p, offset)) break;
        if (n != number) continue;
        if (first + offset >= objects.size()) break;
        return objects.substr(static_cast<std::size_t>(first + offset), kMetadataBytes);
      }
    }
    return {};
  }

  // The text string of `key` in the dictionary `object` starts with; an
  // indirect one is followed `depth` times.
  std::string StringOf(const std::string& object, std::string_view key, int depth) {
    const std::size_t open = object.find("<<");
    if (open == std::string::npos) return {};
    const std::size_t at = KeyValue(std::string_view(object).substr(open), key);
    if (at == std::string_view::npos) return {};
    std::string bytes;
    if (ParseString(object, open + at, bytes)) return TextString(bytes);
    Reference r;
    if (depth == 0 || !ParseReference(object, open + at, r)) return {};
    // "<< /Title (...) >>" is no dictionary here: the indirect object is the
    // string itself.
    const std::string target = ObjectText(r);
    return ParseString(target, 0, bytes) ? TextString(bytes) : std::string();
  }

  Fragment& f_;
  std::uint64_t end_ = 0;
};

}  // namespace

std::string PdfTitle(Fragment& f, const CheckResult& check) {
  unsigned char h[5];
  if (!f.Read(0, h, 5) || std::memcmp(h, "%PDF-", 5) != 0) return {};
  return Pdf(f).Title(check);
}

}  // namespace tessaro::names
