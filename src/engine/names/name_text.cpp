// Text helpers of the metadata readers: the encodings metadata comes in,
// character references, and the shapes of the names.

#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "engine/names/name_readers.h"

namespace tessaro::names {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
  if (c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::uint32_t NextCharacter(std::string_view s, std::size_t& i, bool& valid) {
  const auto b = static_cast<unsigned char>(s[i]);
  valid = true;
  if (b < 0x80) {
    ++i;
    return b;
  }
  std::size_t n = 0;
  std::uint32_t c = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 1;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 2;
    c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 3;
    c = b & 0x07;
  }
  for (std::size_t k = 1; k <= n && i + k < s.size(); ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) break;
    c = c << 6 | (t & 0x3F);
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if (k == n && !((n == 2 && c < 0x800) || (n == 3 && c < 0x10000) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) {
      i += n + 1;
      return c;
    }
  }
  ++i;
  valid = false;
  return 0xFFFD;
}

bool IsUtf8(std::string_view bytes) {
  bool valid = true;
  for (std::size_t i = 0; i < bytes.size() && valid;) NextCharacter(bytes, i, valid);
  return valid;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  for (const char ch : bytes) AppendUtf8(out, static_cast<unsigned char>(ch));
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  // 0x80-0x9F; 0 where Windows-1252 leaves a byte undefined.
  static const std::uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                          0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? (kHigh[b - 0x80] != 0 ? kHigh[b - 0x80] : 0xFFFD) : b);
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  if (bytes.size() % 2 != 0) return out;
  const auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return {};
    if (c >= 0xD800 && c <= 0xDBFF) {
      const std::uint32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return {};
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, c);
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

namespace {

// HTML's names for U+00A0 to U+00FF, in order.
const char* const kLatin1Names[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct Named {
  const char* name;
  std::uint32_t code;
};
const Named kNamed[] = {{"amp", '&'},      {"lt", '<'},        {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
                        {"ndash", 0x2013}, {"mdash", 0x2014},  {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
                        {"rdquo", 0x201D}, {"hellip", 0x2026}, {"euro", 0x20AC},  {"trade", 0x2122}, {"bull", 0x2022}};

std::uint32_t Entity(std::string_view name, bool html) {
  if (!name.empty() && name[0] == '#') {
    std::uint32_t value = 0;
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return 0;
    for (const char c : digits) {
      const int d = HexValue(c);
      if (!hex && d > 9) return 0;
      if (d < 0) return 0;
      value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    return value == 0 ? 0xFFFD : value;
  }
  for (const Named& n : kNamed) {
    if (name == n.name && (html || n.code < 0x80)) return n.code;
  }
  if (html) {
    for (std::size_t i = 0; i < 96; ++i) {
      if (name == kLatin1Names[i]) return static_cast<std::uint32_t>(0xA0 + i);
    }
  }
  return 0;
}

}  // namespace

std::string DecodeEntities(std::string_view text, bool html) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      const std::size_t end = text.find(';', i + 1);
      if (end != std::string_view::npos && end - i <= 12) {
        const std::uint32_t c = Entity(text.substr(i + 1, end - i - 1), html);
        if (c != 0) {
          AppendUtf8(out, c);
          i = end;
          continue;
        }
      }
    }
    out += text[i];
  }
  return out;
}

std::string ArtistTitle(std::string_view artist, std::string_view title) {
  const auto blank = [](std::string_view s) { return s.find_first_not_of(" \t\r\n") == std::string_view::npos; };
  if (blank(title)) return {};
  if (blank(artist)) return std::string(title);
  return std::string(artist) + " - " + std::string(title);
}

std::string DateName(int year, int month, int day, int hour, int minute, int second) {
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return {};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return {};
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d.%02d.%02d", year, month, day, hour, minute, second);
  return text;
}

std::string ReadText(Fragment& f, std::uint64_t offset, std::size_t n) {
  std::string out(std::min(n, kMetadataBytes), '\0');
  out.resize(f.ReadSome(offset, out.data(), out.size()));
  return out;
}

bool ReadExact(Fragment& f, std::uint64_t offset, std::size_t n, std::string& out) {
  out.assign(n, '\0');
  return n <= kMetadataBytes && f.Read(offset, out.data(), n);
}

bool Inflate(Fragment& f, std::uint64_t offset, std::uint64_t limit, bool raw, std::size_t maxOut, std::string& out) {
  out.assign(maxOut, '\0');
  z_stream z{};
  if (inflateInit2(&z, raw ? -15 : 15) != Z_OK) return false;
  std::array<unsigned char, 16384> in{};
  std::uint64_t at = offset;
  int status = Z_OK;
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(maxOut);
  while (status == Z_OK && z.avail_out > 0) {
    if (z.avail_in == 0) {
      const std::size_t want =
          at < limit ? static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), limit - at)) : 0;
      const std::size_t got = f.ReadSome(at, in.data(), want);
      if (got == 0) break;
      at += got;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
    }
    status = inflate(&z, Z_NO_FLUSH);
  }
  const std::size_t produced = maxOut - z.avail_out;
  inflateEnd(&z);
  out.resize(produced);
  return status == Z_STREAM_END || (status == Z_OK && produced == maxOut);
}

std::uint64_t Find(Fragment& f, std::uint64_t from, std::uint64_t limit, std::string_view needle) {
  return formats::FindBytes(f, from, limit, needle.data(), needle.size());
}

}  // namespace tessaro::names
