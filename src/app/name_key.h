#pragma once
// The key under which an output name is compared with the others of its pass.

#include <string>
#include <string_view>

namespace tessaro {

// `name` with every letter folded as a volume that ignores letter case folds
// it (FAT, exFAT and NTFS all do, and Linux writes to them too): two names
// with the same key are one file there. Names are UTF-8; a byte that begins
// no valid character is kept as it is.
std::string NameKey(std::string_view name);

}  // namespace tessaro
