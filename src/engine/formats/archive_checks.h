#pragma once
// The archive family's checkers, split over several files, and what they
// share.

#include <cstdint>
#include <string>

#include "engine/formats/format_check.h"
#include "engine/formats/inflate.h"

namespace tessaro::formats {

// ZIP and its kin. A deflated member whose sizes follow its data (as Office
// Open XML writers leave them) takes them from the central directory, and the
// data descriptor after the data must agree; where that cannot be proved the
// check is CheckZipByInflating's. With --deep, every member is inflated.
CheckResult CheckZip(Fragment& f, const CheckOptions& options);
// The same check finding the end of such members by inflating them: slower,
// and the verdicts on odd files are its own.
CheckResult CheckZipByInflating(Fragment& f, const CheckOptions& options);
CheckResult CheckGzip(Fragment& f, const CheckOptions& options);
CheckResult Check7z(Fragment& f, const CheckOptions& options);
CheckResult CheckCab(Fragment& f, const CheckOptions& options);
CheckResult CheckIso(Fragment& f, const CheckOptions& options);
CheckResult CheckXz(Fragment& f, const CheckOptions& options);
CheckResult CheckBzip2(Fragment& f, const CheckOptions& options);
CheckResult CheckZstd(Fragment& f, const CheckOptions& options);
CheckResult CheckLzip(Fragment& f, const CheckOptions& options);
CheckResult CheckLz4(Fragment& f, const CheckOptions& options);
CheckResult CheckRar(Fragment& f, const CheckOptions& options);
CheckResult CheckCpio(Fragment& f, const CheckOptions& options);
CheckResult CheckAr(Fragment& f, const CheckOptions& options);
CheckResult CheckDeb(Fragment& f, const CheckOptions& options);

// "1 member", "3 members": a count and its noun for the details.
inline std::string Count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "2,883,584": a number of bytes as people read it.
inline std::string Thousands(std::uint64_t n) {
  std::string digits = std::to_string(n), text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// Whether another member (stream, frame) begins at `at`, told by its magic:
// kCut when the fragment ends inside bytes that match the magic so far,
// since the file may go on there.
enum class Next : std::uint8_t { kNone, kMore, kCut };
Next NextMember(Fragment& f, std::uint64_t at, const void* magic, std::size_t n);

// Where the first byte that is not zero lies in [from, to), or `to`, or the
// fragment's end when that comes first; kUnknown when a read fails.
std::uint64_t ZerosUpTo(Fragment& f, std::uint64_t from, std::uint64_t to);

// The CRC-32 of `n` bytes at `at`; false when the fragment does not hold them.
bool CrcOf(Fragment& f, std::uint64_t at, std::uint64_t n, std::uint32_t& crc);

}  // namespace tessaro::formats
