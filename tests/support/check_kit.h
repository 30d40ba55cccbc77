#pragma once
// What the tests of the format checkers share: a fragment held in memory, the
// one runner of a case (bytes and an extension against a verdict and a
// length), the byte builders that make and change headers, and the real
// files of tests/data/kinds that have a checker.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/format_check.h"
#include "platform/platform.h"
#include "support/checker_rows.h"

namespace tessaro::testing {

// One file held in memory, whatever the path: a fragment cut at each of many
// points costs no write to the disk. A read that asks for bytes past the
// file's end is answered only as far as the end, and counted: the layers
// above never ask for one.
class MemoryPlatform : public Platform {
 public:
  explicit MemoryPlatform(std::string bytes = {}) : bytes_(std::move(bytes)) {}

  void Set(std::string bytes) { bytes_ = std::move(bytes); }
  const std::string& bytes() const { return bytes_; }
  int ReadsPastTheEnd() const { return readsPastTheEnd_; }
  // The end of the farthest read asked for.
  std::uint64_t FarthestRead() const { return farthest_; }

  bool Status(const std::string& path, FileStatus& out, int& error) override;
  FileHandle OpenRead(const std::string& path, int& error) override;
  FileHandle Create(const std::string& path, int& error) override;
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override;
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override;
  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override;
  void Close(FileHandle) override {}
  bool SameFile(const std::string&, const std::string&) override { return false; }
  bool MakeFolder(const std::string&, int& error) override;
  bool ListFolder(const std::string&, const std::function<void(std::string_view, std::uint64_t)>&) override {
    return false;
  }
  bool StartWorker(std::function<void()>, WorkerHandle&) override { return false; }

 private:
  std::string bytes_;
  std::uint64_t position_ = 0;
  int readsPastTheEnd_ = 0;
  std::uint64_t farthest_ = 0;
};

// A checker's fragment over bytes in memory.
class MemoryFragment {
 public:
  explicit MemoryFragment(std::string bytes)
      : platform_(std::move(bytes)), fragment_(platform_, 1, platform_.bytes().size()) {}
  MemoryFragment(const MemoryFragment&) = delete;
  MemoryFragment& operator=(const MemoryFragment&) = delete;

  formats::Fragment& fragment() { return fragment_; }
  const MemoryPlatform& platform() const { return platform_; }

 private:
  MemoryPlatform platform_;
  formats::Fragment fragment_;
};

// The verdict the product gives `bytes` checked as `extension` (guards
// included: an end past the fragment, zero or unknown is no end). A read
// that fails or reaches past the end fails the test.
formats::CheckResult Check(std::string_view extension, std::string bytes, const formats::CheckOptions& options = {});

// The checker of `extension` alone, before any guard, on `bytes` in memory:
// an intact verdict's end lies inside the fragment and past its start, and no
// read reaches past the fragment. `what` names the bytes in a failure.
void ExpectSoundBareCheck(std::string_view extension, const std::string& bytes, const std::string& what);

// "intact at 1234 (detail)", "truncated, 5678 declared (detail)": for messages.
std::string Describe(const formats::CheckResult& result);

struct CheckCase {
  std::string what;
  std::string extension;
  std::string bytes;
  formats::Verdict verdict;
  // Intact: where the file ends. Otherwise the length the file declares of
  // itself, kUnknown when it declares none.
  std::uint64_t length = formats::kUnknown;
  bool deep = false;
};

// Each case checked, its verdict and length against the case's.
void ExpectCases(const std::vector<CheckCase>& cases);

// Byte builders. `width` bytes of `value`, least or most significant first.
std::string Le(std::uint64_t value, int width = 4);
std::string Be(std::uint64_t value, int width = 4);
// The `width`-byte number at `at`.
std::uint64_t LeAt(std::string_view bytes, std::size_t at, int width = 4);
std::uint64_t BeAt(std::string_view bytes, std::size_t at, int width = 4);
// A copy of `bytes` with `with` written over it at `at`.
std::string Patched(std::string bytes, std::size_t at, std::string_view with);
// A copy of `bytes` with the bits of `mask` flipped at `at`.
std::string Flipped(std::string bytes, std::size_t at, int mask);
// `bytes` padded with zeros to whole 512-byte sectors, as a file followed at
// once by another is on a disk.
std::string Sectors(const std::string& bytes);

// A real file of tests/data/kinds whose extension has a checker.
struct KindFile {
  std::string name;
  std::string extension;  // lower case, without the dot
  std::string bytes;
  // The first clusters of a longer file, kept for identification: a head by
  // design, which its checker rightly calls truncated.
  bool head = false;
};
// All of them, sorted by name; read once.
const std::vector<KindFile>& CheckedKindFiles();

}  // namespace tessaro::testing
