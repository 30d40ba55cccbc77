// Names every destination accepts, and the "CONTENT (BASE)" shape of an
// output's name.

#include <cstdint>

#include "engine/names/content_name.h"
#include "engine/names/name_readers.h"

namespace tessaro::names {

namespace {

bool IsSpace(std::uint32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// What becomes of a character in a name: controls and the characters Windows
// reserves part words like a space; invisible format characters, which could
// make a name read as another (direction overrides, zero-width joiners, the
// byte order mark, a soft hyphen), vanish.
enum class Fate : std::uint8_t { kKeep, kSpace, kDrop };

Fate FateOf(std::uint32_t c) {
  if (IsSpace(c) || c < 0x20 || (c >= 0x7F && c < 0xA0)) return Fate::kSpace;
  switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return Fate::kSpace;
    default: break;
  }
  if (c == 0xAD || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
      c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB)) {
    return Fate::kDrop;
  }
  return Fate::kKeep;
}

bool ReservedDevice(std::string_view name) {
  // Windows takes the part before the first dot, trailing spaces ignored.
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

// Windows drops a name's trailing dots and spaces, so none is left there.
void TrimEnd(std::string& s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
}

// The longest start of `s` within `limit` bytes that ends on a character boundary.
std::string_view CutAt(std::string_view s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

}  // namespace

std::string SafeName(std::string_view raw) {
  std::string out;
  bool pendingSpace = false;
  for (std::size_t i = 0; i < raw.size();) {
    bool valid = true;
    const std::uint32_t c = NextCharacter(raw, i, valid);
    const Fate fate = FateOf(c);
    if (fate == Fate::kDrop) continue;
    if (fate == Fate::kSpace) {
      pendingSpace = true;
      continue;
    }
    if (out.empty() && c == '.') continue;  // no leading dot (a hidden file)
    if (pendingSpace && !out.empty()) out += ' ';
    pendingSpace = false;
    AppendUtf8(out, c);
  }
  TrimEnd(out);
  if (!out.empty() && ReservedDevice(out)) out.insert(0, "_");
  return out;
}

std::string NameWithContent(std::string_view content, std::string_view base) {
  const std::string safe = SafeName(content);
  // " (" and ")" around the base.
  if (safe.empty() || base.size() + 3 >= kMaxNameBytes) return std::string(base);
  std::string name(CutAt(safe, kMaxNameBytes - base.size() - 3));
  TrimEnd(name);
  if (name.empty()) return std::string(base);
  return name + " (" + std::string(base) + ")";
}

// Shared with content_name.cpp: a content name within the length a name may have.
std::string BoundedSafeName(std::string_view raw) {
  std::string name = SafeName(raw);
  if (name.size() <= kMaxNameBytes) return name;
  name = SafeName(CutAt(name, kMaxNameBytes));
  return name;
}

}  // namespace tessaro::names
