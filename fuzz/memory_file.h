#pragma once
// A file that lives in memory (memfd), reachable by a path, so the fuzz targets
// can hand the product a real path without touching the disk for every input.

#include <string>
#include <string_view>

namespace tessaro::fuzz {

class MemoryFile {
 public:
  explicit MemoryFile(const char* label);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents with `bytes`; returns the path to open.
  const std::string& Fill(std::string_view bytes);
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace tessaro::fuzz
