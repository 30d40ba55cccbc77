#pragma once
// One row per format: what the engine knows of it, kept next to its checker.
// A row lists the format's extensions, its checker, the reader of a name from
// its metadata, what may follow its end, and what the tests may ask of it.
// Every row of the checker files is gathered into one list when the engine is
// built (see src/engine/CMakeLists.txt): the lookups by extension, the fuzz
// targets' tables and the list of checked extensions all come from it.
//
// A row is defined at namespace scope in tessaro::formats, one per line
// beginning "extern const FormatRow k...Row{", so that the build finds it:
//   extern const FormatRow kPngRow{.extensions = {"png"}, .checker = CheckPng, ...};

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/formats/container_kind.h"
#include "engine/formats/format_check.h"

namespace tessaro::formats {

// Reads what a file's own metadata calls it (raw, not yet made safe), given
// the fragment's check (CheckFragment's result); empty when it finds none.
using NameReader = std::string (*)(Fragment& fragment, const CheckResult& check);


// What may follow a file's end inside its fragment.
enum class EndPolicy : std::uint8_t {
  // The checker itself tells slack from more of the file.
  kOwn,
  // A disk writes a file's last sector whole: the structure's end counts only
  // when nothing but zeros follows it to the end of its 512-byte sector (or
  // of the fragment). A picture program that appended a trailer leaves bytes
  // there, and then the end the structure gives is not the file's.
  kLastSectorZeros,
};

inline constexpr std::size_t kMaxRowExtensions = 12;

struct FormatRow {
  // Lower case, without the dot; the first empty slot ends the list.
  const char* extensions[kMaxRowExtensions] = {};
  Checker checker = nullptr;
  NameReader nameReader = nullptr;
  // Whether the name reader looks at the check (the path-based ContentName
  // checks the file only for those).
  bool nameReaderUsesCheck = false;
  // When set, every kind of the catalogue with one of the row's extensions is
  // given only to a fragment that passes it.
  StartTest startTest = nullptr;
  EndPolicy endPolicy = EndPolicy::kOwn;
  // What the tests may ask of it, on the real files of tests/data/kinds:
  // a file cut short is never intact (false for formats that cannot tell,
  // such as text, which runs on to wherever the fragment ends) ...
  bool knowsWhenCut = true;
  // ... and a changed byte anywhere is found (the format's checksums cover
  // every byte, and the checker verifies them without --deep) ...
  bool checksEveryByte = false;
};

// Every row, in no particular order.
std::span<const FormatRow* const> FormatRows();

// The row of an extension (either case, with or without its dot), or null.
const FormatRow* FindEntry(std::string_view extension);

// The row's checker with its end policy, on an open fragment; without
// CheckFragment's guards (the fuzz target holds checkers to them).
CheckResult RunChecker(const FormatRow& row, Fragment& fragment, const CheckOptions& options);

}  // namespace tessaro::formats
