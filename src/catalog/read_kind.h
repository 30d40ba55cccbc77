#pragma once
// ReadKind: how the keys of one catalogue section become a kind. The load and
// the lint both read sections through here, so what the lint describes is
// exactly what the load builds.
//
// A key's role: a name holding "addon" (tested first) gives a content string,
// one holding "postfix" the extension, both case-sensitive; any other key is
// read by its position in the section, counted from 0: odd positions hold
// signatures, even ones offsets. A repeated key name holds one position.
//
// An offset is read as a decimal number: white space (blank, tab, LF, VT, FF,
// CR) skipped, an optional sign, then digits up to the first other character;
// no digits give 0, so "0x10" gives 0. A number beyond the 64-bit range gives
// the nearest value held (INT64_MAX or INT64_MIN): like the number written, it
// lies past the end of every file or before its start, so its signature never
// fits.
//
// Hexadecimal text: a signature's odd last digit is ignored (504B3 is the two
// bytes 50 4B). A content string with an odd number of digits is a fault: it
// is searched for as whole bytes, and dropping the last digit would look for
// bytes its author never wrote.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "catalog/config_file.h"
#include "catalog/file_type_record.h"

namespace tessaro {

enum class KeyRole { kAddon, kPostfix, kSignature, kOffset };

enum class HexFault { kNone, kNotHex, kOddDigits };

// What reading one key found.
struct KeyReading {
  KeyRole role = KeyRole::kOffset;
  HexFault fault = HexFault::kNone;
  // With kNotHex: the index of the first character that is no digit.
  std::size_t badIndex = 0;
  // An offset beyond the 64-bit range, held as the nearest value.
  bool offsetOutOfRange = false;
};

// Fills `record`, which must be empty, with the kind that section `section` of
// `config` makes, and `readings` with one entry per key, by position. A key
// with a fault is still taken (its bytes left empty), so the keys after it
// keep their pairing; a load must refuse a kind in which any key has a fault.
// A section without keys gives a kind without a name.
void ReadKind(const ConfigFile& config, std::uint32_t section, FileTypeRecord& record,
              std::vector<KeyReading>& readings);

// The offset at which the k-th signature of `record` is tested: the k-th
// offset. Absent when the kind has fewer offsets; such a signature never fits.
std::optional<std::int64_t> PairedOffset(const FileTypeRecord& record, std::size_t k);

}  // namespace tessaro
