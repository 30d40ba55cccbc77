// ReadKind: key roles, offsets and hexadecimal text, in one place for the load
// and the lint.

#include "catalog/read_kind.h"

#include <limits>
#include <string>
#include <string_view>

#include "catalog/hex.h"

namespace tessaro {

namespace {

KeyRole RoleOfKey(std::string_view name, std::uint32_t position) {
  if (name.find("addon") != std::string_view::npos) return KeyRole::kAddon;
  if (name.find("postfix") != std::string_view::npos) return KeyRole::kPostfix;
  return position % 2 == 1 ? KeyRole::kSignature : KeyRole::kOffset;
}

// The white space a C library's decimal reading skips. The reader's trim has
// taken blanks, tabs, CR and LF already; a vertical tab or a form feed can
// still lead a value.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::int64_t ReadOffset(std::string_view text, bool& outOfRange) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // The magnitude is gathered unsigned, so that INT64_MIN, whose magnitude no
  // signed 64-bit value holds, is still read exactly.
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  outOfRange = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (outOfRange || magnitude > (limit - digit) / 10) {
      outOfRange = true;
      magnitude = limit;
      continue;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  // -(magnitude - 1) - 1 stays in range for a magnitude of 2^63 as well.
  return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
}

HexFault DecodeKeyHex(KeyRole role, const std::string& text, std::string& bytes, std::size_t& badIndex) {
  if (!DecodeHex(text, bytes, badIndex)) {
    bytes.clear();
    return HexFault::kNotHex;
  }
  if (role == KeyRole::kAddon && text.size() % 2 == 1) {
    bytes.clear();
    return HexFault::kOddDigits;
  }
  return HexFault::kNone;
}

}  // namespace

void ReadKind(const ConfigFile& config, std::uint32_t section, FileTypeRecord& record,
              std::vector<KeyReading>& readings) {
  const std::uint32_t m = config.KeyCount(section);
  readings.assign(m, KeyReading{});
  if (m == 0) return;
  record.name = config.SectionName(section);
  for (std::uint32_t j = 0; j < m; ++j) {
    std::string value = config.KeyValue(section, j, std::string());
    KeyReading& reading = readings[j];
    reading.role = RoleOfKey(config.KeyName(section, j), j);
    switch (reading.role) {
      case KeyRole::kAddon:
      case KeyRole::kSignature: {
        const bool addon = reading.role == KeyRole::kAddon;
        std::string bytes;
        reading.fault = DecodeKeyHex(reading.role, value, bytes, reading.badIndex);
        (addon ? record.addons : record.signatures).push_back(std::move(value));
        (addon ? record.addonBytes : record.signatureBytes).push_back(std::move(bytes));
        break;
      }
      case KeyRole::kPostfix:
        record.extension = std::move(value);
        break;
      case KeyRole::kOffset:
        record.offsets.push_back(ReadOffset(value, reading.offsetOutOfRange));
        break;
    }
  }
}

std::optional<std::int64_t> PairedOffset(const FileTypeRecord& record, std::size_t k) {
  if (k >= record.offsets.size()) return std::nullopt;
  return record.offsets[k];
}

}  // namespace tessaro
