#include "memory_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessaro::bench {

bool MemoryPlatform::Status(const std::string& path, FileStatus& out, int& error) {
  auto it = files_.find(path);
  if (it == files_.end()) {
    error = ENOENT;
    return false;
  }
  out.size = it->second.size();
  out.isRegular = true;
  out.isDirectory = false;
  return true;
}

FileHandle MemoryPlatform::OpenRead(const std::string& path, int& error) {
  auto it = files_.find(path);
  if (it == files_.end()) {
    error = ENOENT;
    return kNoFile;
  }
  for (FileHandle h = 0; h < 8; ++h) {
    if (open_[h].bytes == nullptr) {
      open_[h] = Open{&it->second, 0};
      return h;
    }
  }
  error = EMFILE;
  return kNoFile;
}

FileHandle MemoryPlatform::Create(const std::string&, int& error) {
  error = EROFS;
  return kNoFile;
}

std::size_t MemoryPlatform::Read(FileHandle file, void* buffer, std::size_t n) {
  Open& f = open_[file];
  const std::size_t got = ReadAt(file, f.position, buffer, n);
  f.position += got;
  return got;
}

std::size_t MemoryPlatform::ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) {
  const std::string& bytes = *open_[file].bytes;
  if (offset >= bytes.size()) return 0;
  const std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size() - offset));
  std::memcpy(buffer, bytes.data() + offset, got);
  return got;
}

bool MemoryPlatform::Write(FileHandle, const void*, std::size_t, int& error) {
  error = EROFS;
  return false;
}

void MemoryPlatform::Close(FileHandle file) {
  if (file >= 0 && file < 8) open_[file] = Open{};
}

bool MemoryPlatform::ListFolder(const std::string&, const std::function<void(std::string_view, std::uint64_t)>&) {
  return false;
}

bool MemoryPlatform::StartWorker(std::function<void()>, WorkerHandle&) { return false; }

}  // namespace tessaro::bench
