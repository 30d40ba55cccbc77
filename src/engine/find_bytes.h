#pragma once
// Substring search over raw bytes.

#include <cstddef>

namespace tessaro {

// Position of the first occurrence of `needle` in `haystack`, or null. An empty
// needle is never found.
const unsigned char* FindBytes(const unsigned char* haystack, std::size_t haystackLength,
                               const unsigned char* needle, std::size_t needleLength);

}  // namespace tessaro
