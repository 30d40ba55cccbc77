#pragma once
// What the tests of a lost folder's records share: the real folders of
// tests/data/folders, and builders of exFAT entry sets and FAT entries, right
// (checksums, hashes, sequence numbers) unless a case asks otherwise.

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro::testing {

// The bytes of a folder of tests/data/folders (made by tests/data/make-folders.sh).
std::string FolderData(const std::string& name);

struct ExfatFile {
  std::u16string name;
  std::uint16_t attributes = 0x20;  // 0x10: a folder
  std::uint64_t firstCluster = 0;
  std::uint64_t size = 0;
  std::uint64_t validSize = 0;
  bool contiguous = false;
  int vendorEntries = 0;     // benign secondaries after the name
  bool deleted = false;      // the in-use bit of every entry clear
  int secondaryCount = -1;   // what the file entry claims; -1: the true count
  bool badHash = false;      // a name hash that is not the name's
};
// One entry set, its checksum right (computed after secondaryCount is set).
std::string ExfatSet(const ExfatFile& file);
// The set's checksum written again after a change to its bytes.
std::string WithSetChecksum(std::string set);

// A FAT 8.3 entry: `name11` the 11 bytes of the name as stored, with a valid
// date and time.
std::string FatEntry(std::string_view name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
                     std::uint8_t caseBits = 0);
// The long-name entries of `name` for the 8.3 name `name11`, in the order they
// are stored (last part first); up to 20 entries, units past 260 dropped.
std::string FatLongName(std::u16string_view name, std::string_view name11);
std::uint8_t ShortNameChecksum(std::string_view name11);

}  // namespace tessaro::testing
