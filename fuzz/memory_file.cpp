#include "memory_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tessaro::fuzz {

MemoryFile::MemoryFile(const char* label) {
  fd_ = ::memfd_create(label, MFD_CLOEXEC);
  if (fd_ >= 0) {
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    return;
  }
  // No memfd (old kernel, or seccomp): an ordinary temporary file.
  std::string pattern = "/tmp/tessaro-fuzz-XXXXXX";
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) {
    std::perror("tessaro fuzz: no scratch file");
    std::abort();
  }
  path_ = pattern;
}

MemoryFile::~MemoryFile() {
  if (path_.rfind("/tmp/", 0) == 0) ::unlink(path_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

const std::string& MemoryFile::Fill(std::string_view bytes) {
  if (::ftruncate(fd_, 0) != 0) std::abort();
  std::size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t w = ::pwrite(fd_, bytes.data() + put, bytes.size() - put, static_cast<off_t>(put));
    if (w <= 0) std::abort();
    put += static_cast<std::size_t>(w);
  }
  return path_;
}

}  // namespace tessaro::fuzz
