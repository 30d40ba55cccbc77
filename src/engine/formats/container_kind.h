#pragma once
// What a container's own directory says the file is. Office files share
// their container with many others: a compound file may be a Word document,
// a workbook, a presentation, a mail or a drawing, and a ZIP may be a plain
// archive or a package of any of Office's formats. The bytes alone cannot
// tell them: a presentation may hold a Word document as an embedded object,
// and an archive may hold a document whose part names then occur in it.
// What tells them is the names at the top of the container: the streams
// directly under a compound file's root, the entries of a ZIP's central
// directory. TIFF is such a container too: a camera's raw picture is a TIFF
// whose first directory says which camera wrote it, and whether it is a DNG.
// And a HEIF file's ftyp box lists the brands it keeps to: AVIF or HEIC.

#include <string>
#include <string_view>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

// The extension (lower case, without the dot) of the format that the
// container at the fragment's start proves, or empty when it is not a
// compound file, a ZIP, a TIFF or a HEIF file, its directory cannot be read, or its names prove
// nothing. Bounded reads: a compound file's directory and a ZIP's central
// directory found in the fragment's last 256 KiB, at most a few thousand
// entries of either.
std::string ContainerKind(Fragment& f);

// Whether the fragment surely begins with a file of the format: for formats
// whose fixed bytes are too few to tell them (a frame header's sync word), the
// structure after them has to agree before the catalogue's kind is given.
// Bounded reads, a few frames at most; no verdict on the whole file.
using StartTest = bool (*)(Fragment& fragment);

// The start test of the format of `extension` (with or without its dot, any
// case), or null where a format's fixed bytes tell it on their own.
StartTest StartTestOf(std::string_view extension);

}  // namespace tessaro::formats
