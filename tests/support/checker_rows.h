#pragma once
// What the tests ask of the table of format checkers, in one place: which
// extensions have a checker and what each promises, the checker run bare,
// and the checker run as the product runs it. Nothing else in the tests
// names the engine's table.

#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/format_check.h"

namespace tessaro::testing {

struct CheckerRow {
  std::string extension;  // lower case, without the dot
  // On the real files of tests/data/kinds: a file cut short is never intact ...
  bool knowsWhenCut = false;
  // ... and a byte changed anywhere is found without --deep.
  bool checksEveryByte = false;
};

// Every extension that has a checker, sorted.
std::vector<CheckerRow> CheckerRows();
// The row of an extension (either case, with or without its dot), or null.
const CheckerRow* FindRow(std::string_view extension);

// The checker of `extension` alone on `fragment`: what it says before the
// product's guards (no sure end past the fragment, ...) have had their say.
// Unchecked when the extension has no checker.
formats::CheckResult RunBareChecker(formats::Fragment& fragment, std::string_view extension,
                                    const formats::CheckOptions& options);

// The check as the product makes it of `fragment`, guards included.
formats::CheckResult RunGuardedCheck(formats::Fragment& fragment, std::string_view extension,
                                     const formats::CheckOptions& options);

}  // namespace tessaro::testing
