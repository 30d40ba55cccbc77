#pragma once
// UTF-8 inside, UTF-16 at the Windows edge.
//
// The program keeps every name and text as UTF-8 and calls only the wide (W)
// Windows functions, so names in any script and the Chinese texts work on
// every display language. Windows names are sequences of 16-bit units that
// need not be valid UTF-16 (a lone surrogate is a legal file name on NTFS);
// such a unit is carried as its three-byte generalised UTF-8 form, so every
// name the system lists can be handed back to it and names the same file.
//
// Header-only: the platform layer and the window both stand at the edge.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro::win32 {

// UTF-16 (possibly with lone surrogates) to UTF-8. Never fails.
inline std::string Narrow(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size() * 3);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(wide[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
      std::uint32_t low = static_cast<std::uint16_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// UTF-8 to UTF-16. False for bytes that are not UTF-8 (overlong forms,
// stray continuation bytes, values beyond U+10FFFF); a lone surrogate in
// its three-byte form is accepted and becomes that unit again.
inline bool Widen(std::string_view text, std::wstring& out) {
  out.clear();
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    std::uint32_t c = p[i];
    std::size_t extra = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, c &= 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, c &= 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, c &= 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (extra != 0 && i + extra >= n) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[i + k] & 0x3F);
    }
    if (c < min || c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
    i += extra + 1;
  }
  return true;
}

// For texts the program itself supplies (always UTF-8): bytes that are not
// UTF-8 show as U+FFFD instead of cutting the text short.
inline std::wstring WidenText(std::string_view text) {
  std::wstring out;
  if (Widen(text, out)) return out;
  out.clear();
  for (std::size_t i = 0; i < text.size();) {
    // Take the longest prefix that decodes, one character at a time.
    std::size_t len = 1;
    auto lead = static_cast<unsigned char>(text[i]);
    if ((lead & 0xE0) == 0xC0) len = 2;
    else if ((lead & 0xF0) == 0xE0) len = 3;
    else if ((lead & 0xF8) == 0xF0) len = 4;
    std::wstring one;
    if (i + len <= text.size() && Widen(text.substr(i, len), one)) {
      out += one;
      i += len;
    } else {
      out.push_back(L'\xFFFD');
      ++i;
    }
  }
  return out;
}

}  // namespace tessaro::win32
