// The checkers' shared parts: the fragment's reads, the lookups in the rows,
// the check of one file.

#include "engine/formats/format_check.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "engine/formats/format_row.h"

namespace tessaro::formats {

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kIntact: return "intact";
    case Verdict::kTruncated: return "truncated";
    case Verdict::kDamaged: return "damaged";
    case Verdict::kUnchecked: break;
  }
  return "unchecked";
}

std::size_t Fragment::ReadSome(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset >= size_) return 0;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
  const std::size_t got = platform_.ReadAt(file_, base_ + offset, buffer, want);
  if (got != want) failed_ = true;
  return got;
}

bool Fragment::Read(std::uint64_t offset, void* buffer, std::size_t n) {
  return Holds(offset, n) && ReadSome(offset, buffer, n) == n;
}

const FormatRow* FindEntry(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const FormatRow* row : FormatRows()) {
    for (const char* name : row->extensions) {
      if (name == nullptr) break;
      if (lower == name) return row;
    }
  }
  return nullptr;
}

const FormatRow* FindChecker(std::string_view extension) {
  const FormatRow* row = FindEntry(extension);
  return row != nullptr && row->checker != nullptr ? row : nullptr;
}

std::string ListCheckedExtensions() {
  std::vector<std::string> names;
  for (const FormatRow* row : FormatRows()) {
    if (row->checker == nullptr) continue;
    for (const char* name : row->extensions) {
      if (name == nullptr) break;
      names.emplace_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ' ';
    text += name;
  }
  return text;
}

namespace {

// EndPolicy::kLastSectorZeros: the structure's end counts only when zeros
// alone follow it to the end of its sector.
CheckResult EndsItsSector(CheckResult result, Fragment& f) {
  if (result.verdict != Verdict::kIntact || result.length % kSectorSize == 0) return result;
  if (result.length > f.Size()) return result;  // CheckFragment turns it down
  if (ZerosToSectorEnd(f, result.length)) return result;
  if (f.Failed()) return Unchecked("a read failed");
  return Unchecked("the structure ends at " + std::to_string(result.length) +
                   " but bytes other than zeros follow in its sector");
}

}  // namespace

CheckResult RunChecker(const FormatRow& row, Fragment& fragment, const CheckOptions& options) {
  CheckResult result = row.checker(fragment, options);
  switch (row.endPolicy) {
    case EndPolicy::kLastSectorZeros: return EndsItsSector(std::move(result), fragment);
    case EndPolicy::kOwn: break;
  }
  return result;
}

CheckResult CheckFragment(Fragment& fragment, std::string_view extension, const CheckOptions& options) {
  const FormatRow* row = FindChecker(extension);
  if (row == nullptr) return Unchecked("no checker for this kind");
  CheckResult result = RunChecker(*row, fragment, options);
  if (fragment.Failed()) return Unchecked("a read failed");
  // Never a true end beyond the fragment, whatever a checker believed.
  if (result.verdict == Verdict::kIntact &&
      (result.length == 0 || result.length == kUnknown || result.length > fragment.Size())) {
    return Unchecked("no sure end");
  }
  if (result.verdict != Verdict::kIntact) result.length = kUnknown;
  return result;
}

CheckResult CheckFile(Platform& platform, const std::string& path, std::string_view extension,
                      const CheckOptions& options, bool& readFailed, int& error) {
  readFailed = false;
  error = 0;
  if (FindChecker(extension) == nullptr) return Unchecked("no checker for this kind");
  FileStatus status;
  bool statusFailed = false;
  const FileHandle file = platform.StatusAndOpen(path, status, error, statusFailed);
  if (statusFailed || (file == kNoFile && status.size != 0)) {
    readFailed = true;
    return Unchecked("cannot be read");
  }
  if (file == kNoFile) return Unchecked("empty");
  Fragment fragment(platform, file, status.size);
  CheckResult result = CheckFragment(fragment, extension, options);
  platform.Close(file);
  if (fragment.Failed()) {
    readFailed = true;
    return Unchecked("a read failed");
  }
  return result;
}

CheckResult Intact(std::uint64_t length, std::string detail) {
  return CheckResult{Verdict::kIntact, length, kUnknown, std::move(detail)};
}

CheckResult Truncated(std::uint64_t expected, std::string detail) {
  return CheckResult{Verdict::kTruncated, kUnknown, expected, std::move(detail)};
}

CheckResult Damaged(std::string detail) { return CheckResult{Verdict::kDamaged, kUnknown, kUnknown, std::move(detail)}; }

CheckResult Unchecked(std::string detail) {
  return CheckResult{Verdict::kUnchecked, kUnknown, kUnknown, std::move(detail)};
}

bool ZeroBytes(Fragment& f, std::uint64_t offset, std::size_t n) {
  unsigned char buffer[512];
  while (n > 0) {
    const std::size_t want = n < sizeof buffer ? n : sizeof buffer;
    if (f.ReadSome(offset, buffer, want) != want) return false;
    for (std::size_t i = 0; i < want; ++i) {
      if (buffer[i] != 0) return false;
    }
    offset += want;
    n -= want;
  }
  return true;
}

bool ZerosToSectorEnd(Fragment& f, std::uint64_t at) {
  if (at >= f.Size()) return true;
  const std::uint64_t sectorEnd = std::min(f.Size(), (at / kSectorSize + 1) * kSectorSize);
  return ZeroBytes(f, at, static_cast<std::size_t>(sectorEnd - at));
}

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t n) {
  // zlib's, which works on several bytes at a time: a PNG's or a gzip
  // member's every byte passes through here.
  const auto* p = static_cast<const Bytef*>(data);
  while (n > 0) {
    const uInt step = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, p, step));
    p += step;
    n -= step;
  }
  return crc;
}

}  // namespace tessaro::formats
