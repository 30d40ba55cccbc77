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
class Fragment {
 public:
  Fragment(Platform& platform, FileHandle file, std::uint64_t size)
      : platform_(platform), file_(file), size_(size) {}

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
  std::uint64_t size_;
  bool failed_ = false;
};

using Checker = CheckResult (*)(Fragment& fragment, const CheckOptions& options);

// The checker of an extension (".png", either case, with or without its dot),
// or null when no format family knows it.
Checker FindChecker(std::string_view extension);

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

inline std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}
inline std::uint16_t Be16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
inline std::uint32_t Be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t Be64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Be32(p)) << 32 | Be32(p + 4);
}

// CRC-32 (the one of PNG, ZIP, gzip): `crc` is the running value, 0 to start.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n);

}  // namespace tessaro::formats
