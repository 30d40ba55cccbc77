#pragma once
// The format families and the extensions each checks. Each family's source
// file (images.cpp, archives.cpp, media.cpp, documents.cpp) holds its
// checkers and the table that names them.

#include <cstddef>
#include <string_view>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

struct CheckerEntry {
  const char* extension;  // lower case, without the dot
  Checker checker;
  // What the tests may ask of it, on the real files of tests/data/kinds:
  // a file cut short is never intact (false for formats that cannot tell,
  // such as text, which runs on to wherever the fragment ends) ...
  bool knowsWhenCut = true;
  // ... and a changed byte anywhere is found (the format's checksums cover
  // every byte, and the checker verifies them without --deep).
  bool checksEveryByte = false;
};

struct CheckerTable {
  const CheckerEntry* entries;
  std::size_t count;
};

// The entry of an extension (either case, with or without its dot), or null.
const CheckerEntry* FindEntry(std::string_view extension);

CheckerTable ImageCheckers();
CheckerTable ArchiveCheckers();
CheckerTable MediaCheckers();
CheckerTable DocumentCheckers();

}  // namespace tessaro::formats
