#pragma once
// What a file's own structure says about a fragment: whether the file in it is
// whole, and where it truly ends. Each format family has a checker that walks
// the structure from the first byte (markers, chunks, boxes, pages, a central
// directory, ...) and gives a verdict:
//   intact     the structure runs from the first byte to a proper end inside
//              the fragment and every check the format offers passed; `length`
//              is the file's true end (what follows is slack);
//   truncated  sound as far as it goes, but the fragment ends before the file;
//   damaged    a structural check failed (a checksum, an impossible length, a
//              broken chain of blocks);
//   unchecked  no checker, or the format cannot tell where it ends.
// A checker says intact only with a length that is the file's true end: a
// length it is not sure of is never given, so cutting there never loses data.
//
// Checkers read through the platform layer with positioned reads into bounded
// buffers, never past the fragment's end, and allocate nothing that grows with
// the file. No exceptions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/formats/read_bytes.h"
#include "platform/platform.h"

namespace tessaro::formats {

enum class Verdict : std::uint8_t { kUnchecked, kIntact, kTruncated, kDamaged };

// "intact", "truncated", "damaged", "unchecked".
const char* VerdictName(Verdict verdict);

inline constexpr std::uint64_t kUnknown = UINT64_MAX;

struct CheckResult {
  Verdict verdict = Verdict::kUnchecked;
  std::uint64_t length = kUnknown;    // the file's true end; only when intact
  std::uint64_t expected = kUnknown;  // the length the file declares itself, when it does
  std::string detail;                 // what was checked, or where it failed
};

struct CheckOptions {
  // Decompress what is compressed to verify its checksums (every member of an
  // archive): far more work than reading it, so asked for on purpose.
  bool deep = false;
};

// One fragment, open for reading: positioned reads that never reach past its
// end. A read error of the system is remembered (Failed), so a checker that
// meets one gives up and the caller reports the fragment as unreadable rather
// than as damaged.
//
// A fragment may also be a view of the `size` bytes at `offset` of an open
// file (a file that begins inside a fragment): every offset a reader gives is
// then relative to the view's start, and no read reaches outside the view.
class Fragment {
 public:
  Fragment(Platform& platform, FileHandle file, std::uint64_t size)
      : platform_(platform), file_(file), size_(size) {}
  Fragment(Platform& platform, FileHandle file, std::uint64_t offset, std::uint64_t size)
      : platform_(platform),
        file_(file),
        base_(offset),
        size_(offset <= UINT64_MAX - size ? size : UINT64_MAX - offset) {}

  std::uint64_t Size() const { return size_; }
  bool Failed() const { return failed_; }

  // Up to `n` bytes at `offset`, fewer where the fragment ends; the count read.
  std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t n);
  // Exactly `n` bytes at `offset`: false when they do not all lie inside the
  // fragment, or cannot be read.
  bool Read(std::uint64_t offset, void* buffer, std::size_t n);
  // Whether [offset, offset + n) lies inside the fragment, without overflow.
  bool Holds(std::uint64_t offset, std::uint64_t n) const { return offset <= size_ && n <= size_ - offset; }

 private:
  Platform& platform_;
  FileHandle file_;
  std::uint64_t base_ = 0;
  std::uint64_t size_;
  bool failed_ = false;
};

using Checker = CheckResult (*)(Fragment& fragment, const CheckOptions& options);

// The first offset at or after `from`, below `limit`, where `needle` (at most
// 64 bytes) begins, or kUnknown. Reads in bounded blocks, so a needle across
// two blocks is found too.
std::uint64_t FindBytes(Fragment& f, std::uint64_t from, std::uint64_t limit, const char* needle, std::size_t size);

// The row of an extension's format (".png", either case, with or without its
// dot: engine/formats/format_row.h), or null when none checks it.
struct FormatRow;
const FormatRow* FindChecker(std::string_view extension);

// Every extension that has a checker, without its dot, in lower case, sorted.
std::string ListCheckedExtensions();

// Runs the checker of `extension` on an open fragment, held to what every
// verdict promises: a fragment whose extension has no checker is unchecked,
// an intact verdict without a sure end inside the fragment becomes unchecked,
// and a length is given only when intact. When a read failed
// (fragment.Failed()) the result means nothing and the caller reports the
// fragment as unreadable.
CheckResult CheckFragment(Fragment& fragment, std::string_view extension, const CheckOptions& options);

// Opens `path` and runs CheckFragment on it. `readFailed` is set when the file
// could not be opened or read; `error` then holds the system's code.
CheckResult CheckFile(Platform& platform, const std::string& path, std::string_view extension,
                      const CheckOptions& options, bool& readFailed, int& error);

// Helpers the checkers share.
CheckResult Intact(std::uint64_t length, std::string detail);
CheckResult Truncated(std::uint64_t expected, std::string detail);
CheckResult Damaged(std::string detail);
CheckResult Unchecked(std::string detail);

// The last sector's slack, the one rule every family reads it by. A disk
// writes a file's last 512-byte sector whole, so what follows a file's end up
// to the end of that sector is zeros (or whatever the sector held before);
// and a disk check's fragment is whole sectors, so a structure that runs to
// the end of such a fragment may go on in a cluster the check did not find.
inline constexpr std::uint64_t kSectorSize = 512;
// Whether the `n` bytes at `offset` are all zeros (false where they run past
// the fragment or a read fails).
bool ZeroBytes(Fragment& f, std::uint64_t offset, std::size_t n);
// Whether only zeros lie from `at` to the end of the sector that holds the
// byte at `at` (or to the fragment's end, when that comes first).
bool ZerosToSectorEnd(Fragment& f, std::uint64_t at);
// Whether the fragment ends on a sector's end: what runs to its last byte may
// be only the first clusters of a longer file.
inline bool EndsOnSector(const Fragment& f) { return f.Size() % kSectorSize == 0; }

// CRC-32 (the one of PNG, ZIP, gzip): `crc` is the running value, 0 to start.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n);

}  // namespace tessaro::formats
