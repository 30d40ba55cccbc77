#pragma once
// printf-style formatting into a std::string of any length.

#include <cstdint>
#include <string>

namespace tessaro {

std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// `format` with its one "%d" replaced by `value` (64-bit, unlike printf's %d).
std::string FormatCount(const char* format, std::int64_t value);

}  // namespace tessaro
