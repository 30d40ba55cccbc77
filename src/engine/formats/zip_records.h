#pragma once
// The records of a ZIP archive (local headers, central directory entries,
// their ZIP64 fields), read where they lie in a fragment. The ZIP checker
// walks an archive with them, and the name readers find the metadata parts
// of office documents by them.

#include <cstddef>
#include <cstdint>

#include "engine/formats/format_check.h"

namespace tessaro::formats {

inline constexpr std::uint32_t kZipLocal = 0x04034B50;
inline constexpr std::uint32_t kZipCentral = 0x02014B50;
inline constexpr std::uint32_t kZipDescriptor = 0x08074B50;
inline constexpr std::uint32_t kZipSignature = 0x05054B50;
inline constexpr std::uint32_t kZip64End = 0x06064B50;
inline constexpr std::uint32_t kZip64Locator = 0x07064B50;
inline constexpr std::uint32_t kZipEnd = 0x06054B50;
inline constexpr std::uint32_t kZipExtraData = 0x08064B50;

enum class ZipRead : std::uint8_t { kOk, kCut, kBad };

// The ZIP64 extended information field of an extra block at `at`: the 64-bit
// values that stand for the fields of `fields` set to all ones, in their fixed
// order. `found` tells whether the block has that field. Returns false when
// the fragment ends inside the block.
bool ReadZip64(Fragment& f, std::uint64_t at, std::uint16_t length, std::uint64_t* fields[], int count, bool& found);

// Whether the `length` bytes at two offsets are the same.
bool SameBytes(Fragment& f, std::uint64_t a, std::uint64_t b, std::uint16_t length);

// The fields a local header and a directory entry share, in the same order
// and at the same distances (the entry has one field more before them).
struct ZipFields {
  std::uint16_t flags = 0, method = 0, nameLength = 0, extra = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0, size = 0;
};

// The `n` fixed bytes of a record at `at` into `b`, and the shared fields
// that begin `fields` bytes into it: kBad when the record does not begin
// with `signature`, kCut when the fragment ends inside it.
ZipRead ReadFixed(Fragment& f, std::uint64_t at, std::uint32_t signature, unsigned char* b, std::size_t n,
                  std::size_t fields, ZipFields& into);

// One entry of the central directory, its ZIP64 values resolved.
struct CentralEntry : ZipFields {
  std::uint64_t offset = 0;  // of its local header
  std::uint64_t name = 0;    // where its name begins
  std::uint64_t next = 0;    // where the entry after it begins
};

// A local header: its fixed fields, then where the member's data begins and
// whether a ZIP64 field gave its sizes.
struct LocalHeader : ZipFields {
  std::uint64_t data = 0;
  bool zip64 = false;
};

// The local header at `at`, its ZIP64 values resolved: kBad when none begins
// there, kCut when the fragment ends inside it.
ZipRead ReadLocal(Fragment& f, std::uint64_t at, LocalHeader& h);

// Only the 30 fixed bytes of the local header at `at`, the sizes as they
// stand there.
ZipRead ReadLocalFixed(Fragment& f, std::uint64_t at, ZipFields& fields);

// kBad when no entry begins at `at`, kCut when the fragment ends inside it.
ZipRead ReadCentral(Fragment& f, std::uint64_t at, CentralEntry& entry);

}  // namespace tessaro::formats
