#pragma once
// A lost folder's own records, read from a fragment a disk check left: the
// entry sets of an exFAT directory or the 32-byte entries of a FAT one. They
// name each file and subfolder of the folder, with its size and first cluster,
// which is what pairs a file found elsewhere with its name.
//
// Every check the records offer is made (exFAT set checksums and name hashes,
// FAT long-name checksums and sequence numbers, the fields a file system
// writes only one way); reading stops where the bytes stop being records.
// Reads are positioned and bounded, never past the fragment; memory is bounded
// (kMaxEntries entries, names of at most 255 UTF-16 units). No exceptions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/format_check.h"

namespace tessaro::folders {

enum class FileSystem : std::uint8_t { kExfat, kFat };

// "exFAT", "FAT".
const char* FileSystemName(FileSystem system);

struct FolderEntry {
  // The name as recorded, in UTF-8: not yet made safe for a file name (it may
  // hold "..", "/", "\" or control characters). Always valid UTF-8 and never a
  // NUL: a unit that cannot be told (an unpaired surrogate, a NUL) is U+FFFD.
  // FAT short names are read in code page 437, with the case bits applied.
  std::string name;
  bool isFolder = false;
  std::uint64_t firstCluster = 0;  // 0: none (an empty file)
  // exFAT: the stream's DataLength (a folder's too); FAT: the file's size, 0
  // for a folder.
  std::uint64_t size = 0;
  // exFAT: ValidDataLength, the bytes written (what follows up to `size` reads
  // as zeros); FAT: the same as `size`.
  std::uint64_t validSize = 0;
  // exFAT NoFatChain: the clusters follow one another, with no chain in the
  // FAT. Always false on FAT.
  bool contiguous = false;
  std::uint64_t recordOffset = 0;  // where its first entry lies in the fragment
};

struct FolderRecords {
  FileSystem system = FileSystem::kFat;
  std::uint64_t offset = 0;  // where the records begin in the fragment
  // How many bytes of records were read: through the end-of-folder entry
  // (exFAT type 0x00, FAT name[0] 0x00) rounded up to a whole 512-byte sector
  // (but not past the end given), or up to where the records stop being
  // records (the end given, the fragment's end, an entry no file system
  // writes, a set that fails its checksum, kMaxEntries entries).
  std::uint64_t length = 0;
  bool ended = false;  // an end-of-folder entry was met
  // Live files and subfolders in recorded order. Deleted entries (exFAT in-use
  // bit clear, FAT 0xE5), volume labels, the exFAT allocation bitmap and
  // up-case table, and FAT "." and ".." are not listed.
  std::vector<FolderEntry> entries;
  // FAT: the records began with "." and ".." (a subfolder's first cluster):
  // its own first cluster and its parent's (0: the root) are then known.
  bool hasDotEntries = false;
  // exFAT: subfolders whose entry sets are deleted (the in-use bit of each
  // entry clear) but whole, their checksum right once the bits are set again:
  // what a lost folder's parent says of it when the loss cleared those bits.
  // For names only; such a set places nothing.
  std::vector<FolderEntry> deletedFolders;
  std::uint64_t selfCluster = 0;
  std::uint64_t parentCluster = 0;
};

// The most entries read from one folder (a FAT folder holds at most 65,536).
inline constexpr std::size_t kMaxEntries = 65536;

// Whether the `n` bytes at `sector` (512 are enough) could begin a folder's
// records; cheap, for scanning every sector of a large fragment. exFAT: the
// first live entry (after any deleted ones and the root's label, bitmap and
// up-case table) begins a complete entry set with a right checksum. FAT: "."
// and "..", or every entry of the first 512 bytes up to the end-of-folder
// entry is one a FAT writes, with long names whose checksums and sequence
// numbers are right, and at least one file or folder is named. Random data,
// text and compressed data do not pass. When true, ReadFolderRecords at the
// same place gives records.
bool BeginsFolderRecords(const unsigned char* sector, std::size_t n);

// Reads the records that begin at `offset` of the fragment, none of them
// reaching past `limit` (the end offset of the area they may occupy; clamped to
// the fragment's end). std::nullopt when no file or folder is named there, or
// a read failed (the fragment's Failed() then tells).
std::optional<FolderRecords> ReadFolderRecords(formats::Fragment& f, std::uint64_t offset, std::uint64_t limit);

}  // namespace tessaro::folders
