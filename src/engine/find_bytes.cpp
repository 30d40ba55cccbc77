// Substring search: the C library's memmem where it has one (a two-way search
// with a vectorised first-byte scan), else memchr for the first byte and a
// compare of the rest.

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "engine/find_bytes.h"

#include <cstring>
#include <string.h>

namespace tessaro {

const unsigned char* FindBytes(const unsigned char* haystack, std::size_t haystackLength,
                               const unsigned char* needle, std::size_t needleLength) {
  if (needleLength == 0 || needleLength > haystackLength) return nullptr;
#if defined(__GLIBC__)
  return static_cast<const unsigned char*>(::memmem(haystack, haystackLength, needle, needleLength));
#else
  const unsigned char first = needle[0];
  const unsigned char* p = haystack;
  const unsigned char* last = haystack + (haystackLength - needleLength);
  while (p <= last) {
    p = static_cast<const unsigned char*>(std::memchr(p, first, static_cast<std::size_t>(last - p) + 1));
    if (p == nullptr) return nullptr;
    if (std::memcmp(p + 1, needle + 1, needleLength - 1) == 0) return p;
    ++p;
  }
  return nullptr;
#endif
}

}  // namespace tessaro
