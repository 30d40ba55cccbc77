#pragma once
// The format families and the extensions each checks. Each family's source
// file (images.cpp, archives.cpp, media.cpp, documents.cpp) holds its
// checkers and the table that names them.

#include <cstddef>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

struct CheckerEntry {
  const char* extension;  // lower case, without the dot
  Checker checker;
};

struct CheckerTable {
  const CheckerEntry* entries;
  std::size_t count;
};

CheckerTable ImageCheckers();
CheckerTable ArchiveCheckers();
CheckerTable MediaCheckers();
CheckerTable DocumentCheckers();

}  // namespace tessaro::formats
