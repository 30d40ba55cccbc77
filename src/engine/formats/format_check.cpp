// The checkers' shared parts: the fragment's reads, the table of extensions,
// the check of one file.

#include "engine/formats/format_check.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

#include "engine/formats/checkers.h"

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
  const std::size_t got = platform_.ReadAt(file_, offset, buffer, want);
  if (got != want) failed_ = true;
  return got;
}

bool Fragment::Read(std::uint64_t offset, void* buffer, std::size_t n) {
  return Holds(offset, n) && ReadSome(offset, buffer, n) == n;
}

namespace {

std::array<CheckerTable, 4> Tables() {
  return {ImageCheckers(), ArchiveCheckers(), MediaCheckers(), DocumentCheckers()};
}

}  // namespace

const CheckerEntry* FindEntry(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const CheckerTable& table : Tables()) {
    for (std::size_t i = 0; i < table.count; ++i) {
      if (lower == table.entries[i].extension) return &table.entries[i];
    }
  }
  return nullptr;
}

Checker FindChecker(std::string_view extension) {
  const CheckerEntry* entry = FindEntry(extension);
  return entry != nullptr ? entry->checker : nullptr;
}

std::string ListCheckedExtensions() {
  std::vector<std::string> names;
  for (const CheckerTable& table : Tables()) {
    for (std::size_t i = 0; i < table.count; ++i) names.emplace_back(table.entries[i].extension);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ' ';
    text += name;
  }
  return text;
}

CheckResult CheckFragment(Fragment& fragment, std::string_view extension, const CheckOptions& options) {
  const Checker checker = FindChecker(extension);
  if (checker == nullptr) return Unchecked("no checker for this kind");
  CheckResult result = checker(fragment, options);
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
