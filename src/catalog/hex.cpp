// Hexadecimal decoding, without regard to case.

#include "catalog/hex.h"

namespace tessaro {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool DecodeHex(std::string_view hex, std::string& bytes, std::size_t& badIndex) {
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); ++i) {
    if (DigitValue(hex[i]) < 0) {
      badIndex = i;
      return false;
    }
  }
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(DigitValue(hex[i]) * 16 + DigitValue(hex[i + 1])));
  }
  return true;
}

}  // namespace tessaro
