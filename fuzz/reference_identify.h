#pragma once
// The identification rules, written the plain way: every kind tried in table
// order against the whole file held in memory. Slow, and obviously right; the
// identify fuzz target holds the engine's one-read scan to it.

#include <set>
#include <string>
#include <string_view>

#include "catalog/fragment_engine.h"

namespace tessaro::fuzz {

// The kind a file of exactly these bytes is, by the rules: a record of
// `engine.kinds`, `&engine.textKind`, or null. Reads only the catalogue's
// texts (hexadecimal as written, offsets), never the engine's decoded copies.
// `proven` is what the container's own directory says the file is (see
// formats::ContainerKind): where it names an extension other than the chosen
// kind's, the first kind of that extension whose signatures pass wins.
// `started` holds the extensions ("aac", as the rows list them) whose format's
// start test the file passes (formats::FormatRow::startTest): a kind of an
// extension whose format has one passes only when its extension is in it.
const FileTypeRecord* ReferenceIdentify(const FragmentEngine& engine, std::string_view file,
                                        std::string_view proven = {}, const std::set<std::string>& started = {});

// Two hexadecimal digits a byte, either case; an odd last digit is dropped.
// Characters that are no digit are the load's concern: a loaded catalogue holds none.
std::string DecodeHexPlain(std::string_view hex);

}  // namespace tessaro::fuzz
