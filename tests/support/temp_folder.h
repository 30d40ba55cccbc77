#pragma once
// Test folders and files, and the invariant every pass must keep: fragments are
// never changed.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace tessaro::testing {

namespace fs = std::filesystem;

// Names and paths in the tests are UTF-8 on every system; these cross to and
// from std::filesystem, whose narrow strings are the system code page on
// Windows.
fs::path PathOf(const std::string& utf8);
std::string Utf8(const fs::path& path);

// A fresh folder under the system's temporary folder, removed afterwards.
// Its paths are spelt with the system's separator.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return path_; }
  std::string str() const { return Utf8(path_); }
  // Writes `bytes` to `name` (folders made as needed) and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Sub(const std::string& name) const;  // makes and returns a subfolder

 private:
  fs::path path_;
};

// prefix + n + suffix ("F" 3 ".CHK" is "F3.CHK"), built in one buffer: GCC 12
// at -O3 takes `"F" + std::to_string(n)` for an overlapping copy (-Wrestrict).
std::string NumberedName(std::string_view prefix, std::size_t n, std::string_view suffix = {});

std::string ReadAll(const std::string& path);

// The bytes of a real file of tests/data/kinds, by its name there.
std::string Kind(const std::string& name);
std::string Bytes(std::initializer_list<int> values);
// `n` bytes from a seeded generator.
std::string RandomBytes(std::size_t n, std::uint32_t seed);
// Writes a catalogue text to a file in `folder` and returns its path.
std::string WriteCatalogue(const TempFolder& folder, const std::string& text);
std::string SharedCatalogue();  // the shipped resources/tessaro.cfg

// Records every file of a folder (hash of its bytes, size, modification time)
// and checks later that none was changed, removed or renamed.
class FragmentSnapshot {
 public:
  explicit FragmentSnapshot(const fs::path& folder);
  // Empty when all is as it was, else what changed.
  std::string Changes() const;

 private:
  struct Entry {
    std::uint64_t hash;
    std::uint64_t size;
    fs::file_time_type time;
  };
  fs::path folder_;
  std::map<std::string, Entry> entries_;
};

std::uint64_t HashBytes(const std::string& bytes);

}  // namespace tessaro::testing
