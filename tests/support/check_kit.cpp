#include "support/check_kit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_folder.h"

namespace tessaro::testing {

using formats::CheckResult;
using formats::kUnknown;
using formats::Verdict;

bool MemoryPlatform::Status(const std::string&, FileStatus& out, int&) {
  out = FileStatus{};
  out.size = bytes_.size();
  out.isRegular = true;
  return true;
}

FileHandle MemoryPlatform::OpenRead(const std::string&, int&) {
  position_ = 0;
  return 1;
}

FileHandle MemoryPlatform::Create(const std::string&, int& error) {
  error = 1;
  return kNoFile;
}

std::size_t MemoryPlatform::Read(FileHandle file, void* buffer, std::size_t n) {
  const std::size_t got = ReadAt(file, position_, buffer, n);
  position_ += got;
  return got;
}

std::size_t MemoryPlatform::ReadAt(FileHandle, std::uint64_t offset, void* buffer, std::size_t n) {
  farthest_ = std::max<std::uint64_t>(farthest_, offset + n);
  if (offset > bytes_.size() || n > bytes_.size() - offset) {
    ++readsPastTheEnd_;
    if (offset >= bytes_.size()) return 0;
  }
  return bytes_.copy(static_cast<char*>(buffer), n, static_cast<std::size_t>(offset));
}

bool MemoryPlatform::Write(FileHandle, const void*, std::size_t, int& error) {
  error = 1;
  return false;
}

bool MemoryPlatform::MakeFolder(const std::string&, int& error) {
  error = 1;
  return false;
}

CheckResult Check(std::string_view extension, std::string bytes, const formats::CheckOptions& options) {
  MemoryFragment memory(std::move(bytes));
  const CheckResult result = RunGuardedCheck(memory.fragment(), extension, options);
  EXPECT_FALSE(memory.fragment().Failed()) << extension;
  EXPECT_EQ(memory.platform().ReadsPastTheEnd(), 0) << extension;
  return result;
}

void ExpectSoundBareCheck(std::string_view extension, const std::string& bytes, const std::string& what) {
  MemoryFragment memory(bytes);
  const CheckResult r = RunBareChecker(memory.fragment(), extension, formats::CheckOptions{});
  if (r.verdict == Verdict::kIntact) {
    EXPECT_GT(r.length, 0u) << what << ": " << Describe(r);
    EXPECT_LE(r.length, bytes.size()) << what << ": " << Describe(r);
  }
  EXPECT_EQ(memory.platform().ReadsPastTheEnd(), 0) << what;
  EXPECT_FALSE(memory.fragment().Failed()) << what;
}

std::string Describe(const CheckResult& r) {
  std::string text = formats::VerdictName(r.verdict);
  if (r.length != kUnknown) text += " at " + std::to_string(r.length);
  if (r.expected != kUnknown) text += ", " + std::to_string(r.expected) + " declared";
  return text + " (" + r.detail + ")";
}

void ExpectCases(const std::vector<CheckCase>& cases) {
  for (const CheckCase& c : cases) {
    formats::CheckOptions options;
    options.deep = c.deep;
    const CheckResult r = Check(c.extension, c.bytes, options);
    EXPECT_EQ(r.verdict, c.verdict) << c.what << ": " << Describe(r);
    EXPECT_EQ(r.verdict == Verdict::kIntact ? r.length : r.expected, c.length) << c.what << ": " << Describe(r);
    // An end is given only with an intact verdict.
    if (r.verdict != Verdict::kIntact) EXPECT_EQ(r.length, kUnknown) << c.what;
  }
}

std::string Le(std::uint64_t value, int width) {
  std::string bytes(static_cast<std::size_t>(width), '\0');
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Be(std::uint64_t value, int width) {
  std::string bytes = Le(value, width);
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::uint64_t LeAt(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint64_t BeAt(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string Patched(std::string bytes, std::size_t at, std::string_view with) {
  return bytes.replace(at, with.size(), with);
}

std::string Flipped(std::string bytes, std::size_t at, int mask) {
  bytes[at] = static_cast<char>(bytes[at] ^ mask);
  return bytes;
}

std::string Sectors(const std::string& bytes) { return bytes + std::string((512 - bytes.size() % 512) % 512, '\0'); }

const std::vector<KindFile>& CheckedKindFiles() {
  static const std::vector<KindFile> files = [] {
    namespace fs = std::filesystem;
    std::vector<KindFile> found;
    for (const auto& entry : fs::directory_iterator(fs::path(TESSARO_SOURCE_DIR) / "tests" / "data" / "kinds")) {
      const std::string name = Utf8(entry.path().filename());
      const std::size_t dot = name.rfind('.');
      if (dot == std::string::npos) continue;
      const CheckerRow* row = FindRow(name.substr(dot + 1));
      if (row == nullptr) continue;
      found.push_back({name, row->extension, ReadAll(Utf8(entry.path())),
                       name.find("first-cluster") != std::string::npos});
    }
    std::sort(found.begin(), found.end(), [](const KindFile& a, const KindFile& b) { return a.name < b.name; });
    return found;
  }();
  return files;
}

}  // namespace tessaro::testing
