#pragma once
// Hexadecimal text of the catalogue: two digits a byte, either case.

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaro {

// Decodes `hex` into `bytes`; an odd last digit is dropped. False when a
// character is not a hexadecimal digit, with its index in `badIndex`.
bool DecodeHex(std::string_view hex, std::string& bytes, std::size_t& badIndex);

}  // namespace tessaro
