#pragma once
// Names from a file's own metadata: what a photo's or a film's date, a song's
// tags or a document's title call the file, for outputs named
// "CONTENT (BASE).ext" rather than only after their fragment.
//
// The readers go through the platform layer with positioned reads into
// bounded buffers, never past the fragment, and allocate nothing that grows
// with the file. No exceptions.

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/formats/format_check.h"
#include "platform/platform.h"

namespace tessaro::names {

// What a file's own metadata calls it, as one line of UTF-8 made safe
// (SafeName) and at most kMaxNameBytes long: the date and time a photo or a
// video was taken ("2019-07-14 15.30.12"), a song's "Artist - Title" (or
// "Title"), a document's title. Empty when the file holds none that is usable,
// its metadata cannot be read or is cut short, or the kind has no reader.
// `extension` is the kind's (".jpg", any case, with or without the dot) and
// chooses the reader.
std::string ContentName(Platform& platform, const std::string& path, std::string_view extension);

// The same, on a fragment already open, given its check as CheckFragment gave
// it (some readers look only as far as the file's end), so that one open
// serves the check, the name and the copy. Empty when a read failed.
std::string ContentName(formats::Fragment& fragment, std::string_view extension, const formats::CheckResult& check);
// The same where no check was made: the readers that look at the file's end
// check the fragment themselves, as a plain check would.
std::string ContentName(formats::Fragment& fragment, std::string_view extension);

// Whether `extension` (as for ContentName) has a metadata reader.
bool HasContentReader(std::string_view extension);

// Every extension that has a reader, without its dot, in lower case, sorted
// and parted by spaces.
std::string ListContentExtensions();

// The output's name without its extension: "CONTENT (BASE)", at most
// kMaxNameBytes bytes; the content is made safe and shortened at a character
// boundary (never the base). Empty content, or a base that leaves no room for
// any, gives `base` alone.
inline constexpr std::size_t kMaxNameBytes = 200;
std::string NameWithContent(std::string_view content, std::string_view base);

// Makes any bytes a name every destination accepts: invalid UTF-8 becomes
// U+FFFD; control and format characters, and \ / : * ? " < > |, become
// spaces; runs of white space become one space; no leading or trailing space
// or dot; a reserved Windows device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, any case, with or without an extension) gets a leading "_". Empty
// when nothing is left.
std::string SafeName(std::string_view raw);

}  // namespace tessaro::names
