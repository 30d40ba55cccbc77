#pragma once
// The ZIP records the checker reads in more than one place, and the central
// directory as the end record at the back of a fragment tells it. Private to
// the ZIP checker (archives_zip.cpp, archives_zip_directory.cpp).

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

// kBad when no entry begins at `at`, kCut when the fragment ends inside it.
ZipRead ReadCentral(Fragment& f, std::uint64_t at, CentralEntry& entry);

// The central directory that an end record names, found by searching back
// from the fragment's end, so that a member whose sizes follow its data can
// take them from its entry instead of being inflated to find its end.
//
// Slack is not trusted: an end record is taken only when the directory it
// names lies whole before it, ends exactly where the end record (or its ZIP64
// record) begins, and holds as many entries, back to back, as it says. Every
// candidate from the back is tried in turn, up to a few that fit that
// arithmetic (only real end records do, so more means a crafted fragment).
// Reads go through bounded buffers; nothing grows with the fragment.
class ZipDirectory {
 public:
  explicit ZipDirectory(Fragment& f) : f_(f) {}

  // Whether such a directory was found. Searches on the first call only.
  bool Found();
  // Whether Found was ever asked: only then can the walk have relied on it.
  bool Consulted() const { return state_ != State::kUnsearched; }
  // Where the directory's first entry begins; when Found.
  std::uint64_t Start() const { return start_; }
  // Entry number `k` (from 0), in the directory's order; false when it has
  // fewer or the entry cannot be read. Cheapest when asked in rising order.
  bool Entry(std::uint64_t k, CentralEntry& entry);

 private:
  bool Fits(std::uint64_t at, int& fitting);

  Fragment& f_;
  enum class State : std::uint8_t { kUnsearched, kFound, kNone } state_ = State::kUnsearched;
  std::uint64_t start_ = 0, end_ = 0;
  std::uint64_t cursor_ = 0, index_ = 0;  // the entry Entry reads next
};

}  // namespace tessaro::formats
