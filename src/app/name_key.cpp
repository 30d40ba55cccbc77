// NameKey: UTF-8 decoded, each character folded through the table, encoded again.

#include "app/name_key.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace tessaro {

namespace {

struct FoldRun {
  std::uint32_t first;
  std::uint32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

constexpr FoldRun kRuns[] = {
#include "app/case_fold_table.inc"
};

std::uint32_t Fold(std::uint32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  const auto* run = std::upper_bound(std::begin(kRuns), std::end(kRuns), c,
                                     [](std::uint32_t v, const FoldRun& r) { return v < r.first; });
  if (run == std::begin(kRuns)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->stride != 0) return c;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(c) + run->delta);
}

// The character at `at` and its length in bytes; 0 bytes when none is there.
std::size_t Decode(std::string_view s, std::size_t at, std::uint32_t& c) {
  const auto b = static_cast<unsigned char>(s[at]);
  std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  c = n == 1 ? b : b & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto t = static_cast<unsigned char>(s[at + i]);
    if ((t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond Unicode are no characters.
  static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return n;
}

void Encode(std::uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string NameKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    std::uint32_t c = 0;
    const std::size_t n = Decode(name, at, c);
    if (n == 0) {
      key += name[at++];
      continue;
    }
    Encode(Fold(c), key);
    at += n;
  }
  return key;
}

}  // namespace tessaro
