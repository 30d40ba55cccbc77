// POSIX implementation of the platform layer.

#include "platform/platform.h"

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace tessaro {

namespace {

int ToFd(FileHandle file) { return static_cast<int>(file); }

// Calls `each` with the folder's descriptor and every entry of the folder.
// False when the folder cannot be opened for listing.
template <typename Each>
bool EachEntry(const std::string& folder, Each&& each) {
  int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  DIR* dir = ::fdopendir(dfd);
  if (dir == nullptr) {
    ::close(dfd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) each(dfd, *entry);
  ::closedir(dir);
  return true;
}

// The folder this thread has begun (BeginFolder), open.
struct CurrentFolder {
  std::string path;
  int fd = -1;
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    path.clear();
  }
  ~CurrentFolder() { Close(); }

  // The name of `file` inside this folder with `dfd` set to it, when `file` is
  // the folder's path, a separator and a name; else null.
  const char* NameOf(const std::string& file, int& dfd) const {
    const std::size_t n = path.size();
    if (fd < 0 || file.size() <= n + 1 || file[n] != '/' || file.compare(0, n, path) != 0) return nullptr;
    if (file.find('/', n + 1) != std::string::npos) return nullptr;
    dfd = fd;
    return file.c_str() + n + 1;
  }
};
thread_local CurrentFolder t_folder;

// How a file is opened for reading; see OpenRead.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

void Fill(const struct stat& st, FileStatus& out) {
  out.size = static_cast<std::uint64_t>(st.st_size);
  out.isRegular = S_ISREG(st.st_mode);
  out.isDirectory = S_ISDIR(st.st_mode);
}

class PosixPlatform final : public Platform {
 public:
  void BeginFolder(const std::string& folder) override {
    t_folder.Close();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // every path is then walked whole, as without
    t_folder.fd = fd;
    t_folder.path = folder;
  }

  void EndFolder() override { t_folder.Close(); }

  bool Status(const std::string& path, FileStatus& out, int& error) override {
    struct stat st;
    int dfd = -1;
    const char* name = t_folder.NameOf(path, dfd);
    if ((name != nullptr ? ::fstatat(dfd, name, &st, 0) : ::stat(path.c_str(), &st)) != 0) {
      error = errno;
      return false;
    }
    Fill(st, out);
    return true;
  }

  FileHandle OpenRead(const std::string& path, int& error) override {
    // O_NONBLOCK keeps an open of a pipe that slipped in from waiting for a
    // writer. It stays set: on a regular file it changes nothing (reads from the
    // page cache or the disk block all the same), and clearing it would cost two
    // more system calls for every fragment, a fifth of what a small one costs.
    // A pipe or terminal read through it ends at once instead of hanging.
    int dfd = -1;
    const char* name = t_folder.NameOf(path, dfd);
    const int fd = name != nullptr ? ::openat(dfd, name, kOpenFlags) : ::open(path.c_str(), kOpenFlags);
    if (fd < 0) {
      error = errno;
      return kNoFile;
    }
    return fd;
  }

  FileHandle StatusAndOpen(const std::string& path, FileStatus& status, int& error, bool& statusFailed) override {
    int dfd = -1;
    const char* name = t_folder.NameOf(path, dfd);
    if (name == nullptr) return Platform::StatusAndOpen(path, status, error, statusFailed);
    // A file of the folder a pass has listed, so a regular file: opened first,
    // its status then asked of the open file, which spares the system a
    // second look-up of the name (a sixth of what a small fragment costs).
    const int fd = ::openat(dfd, name, kOpenFlags);
    if (fd < 0) {
      // Which failed, and whether it mattered, as Status and OpenRead in turn would say.
      const int openError = errno;
      statusFailed = !Status(path, status, error);
      if (statusFailed || status.size == 0) return kNoFile;
      error = openError;
      return kNoFile;
    }
    struct stat st;
    statusFailed = ::fstat(fd, &st) != 0;
    if (statusFailed) error = errno;
    if (!statusFailed) Fill(st, status);
    if (statusFailed || status.size == 0) {
      ::close(fd);
      return kNoFile;
    }
    return fd;
  }

  FileHandle Create(const std::string& path, int& error) override {
    // An existing name is replaced only when it is a plain file of its own: a
    // symbolic link, or a second name of a file (a hard link), would lead the
    // output over whatever it names, a fragment even; a pipe would block the
    // pass. Such a name is refused, and nothing is truncated before that check.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
      error = errno;
      return kNoFile;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
      error = EEXIST;
      ::close(fd);
      return kNoFile;
    }
    // Only a file that holds something is truncated. On ext4 a truncation to
    // nothing marks the file for allocation and writeback at its close (so that
    // a replaced file is never left empty by a crash); for a file just made,
    // that is pure cost, and it halved the speed of a recovery.
    if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
      error = errno;
      ::close(fd);
      return kNoFile;
    }
    return fd;
  }

  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override {
    auto* p = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::read(ToFd(file), p + got, n - got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer,
                     std::size_t n) override {
    auto* p = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::pread(ToFd(file), p + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override {
    const auto* p = static_cast<const char*>(buffer);
    std::size_t put = 0;
    while (put < n) {
      ssize_t w = ::write(ToFd(file), p + put, n - put);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error = w < 0 ? errno : ENOSPC;
        return false;
      }
      put += static_cast<std::size_t>(w);
    }
    return true;
  }

  CopyResult CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n,
                       int& error) override {
    // copy_file_range moves the bytes from page cache to page cache inside the
    // kernel: one copy instead of two, one system call instead of two, as cp
    // does it. Where it cannot (older kernels, some file systems, across file
    // systems) or where it fails, the rest of the chunk goes through the
    // buffer, whose read and write then tell which side failed.
    std::size_t done = 0;
    if (copyRangeWorks_.load(std::memory_order_relaxed)) {
      while (done < n) {
        const ssize_t r = ::copy_file_range(ToFd(source), nullptr, ToFd(dest), nullptr, n - done, 0);
        if (r > 0) {
          done += static_cast<std::size_t>(r);
          continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == ENOSYS || errno == EOPNOTSUPP)) {
          // The kernel has no such call: stop asking. (EXDEV, a destination
          // on another kind of file system, is a matter of these two files
          // only; its cost is one refused call per chunk.)
          copyRangeWorks_.store(false, std::memory_order_relaxed);
        }
        break;  // end of the source, or a failure: the buffer says which
      }
    }
    if (done == n) return CopyResult::kCopied;
    const std::size_t rest = n - done;
    if (Read(source, buffer, rest) != rest) {
      // A read that falls short writes nothing of its chunk: take back what
      // the kernel copied of it already.
      if (done > 0) {
        const off_t end = ::lseek(ToFd(dest), 0, SEEK_CUR);
        if (end >= static_cast<off_t>(done)) {
          const off_t start = end - static_cast<off_t>(done);
          if (::ftruncate(ToFd(dest), start) == 0) ::lseek(ToFd(dest), start, SEEK_SET);
        }
      }
      return CopyResult::kReadFailed;
    }
    if (!Write(dest, buffer, rest, error)) return CopyResult::kWriteFailed;
    return CopyResult::kCopied;
  }

  void Close(FileHandle file) override {
    if (file != kNoFile) ::close(ToFd(file));
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  bool MakeFolder(const std::string& path, int& error) override {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    error = errno;
    return false;
  }

  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view, std::uint64_t)>& each) override {
    return EachEntry(folder, [&](int dfd, const dirent& entry) {
      if (entry.d_type != DT_REG && entry.d_type != DT_UNKNOWN) return;
      struct stat st;
      // Not following links: a link leads out of the folder.
      if (::fstatat(dfd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return;
      each(entry.d_name, static_cast<std::uint64_t>(st.st_size));
    });
  }

  bool ListFolderNames(const std::string& folder, const std::function<void(std::string_view)>& each) override {
    return EachEntry(folder, [&](int dfd, const dirent& entry) {
      if (entry.d_type == DT_UNKNOWN) {
        // A file system that does not say: ask, as ListFolder does.
        struct stat st;
        if (::fstatat(dfd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return;
      } else if (entry.d_type != DT_REG) {
        return;
      }
      each(entry.d_name);
    });
  }

  unsigned UsableProcessors() override {
#if defined(__linux__)
    // Those the process is allowed (a container's or taskset's set), not all
    // the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
      const int n = CPU_COUNT(&set);
      if (n > 0) return static_cast<unsigned>(n);
    }
#endif
    return Platform::UsableProcessors();
  }

 private:
  std::atomic<bool> copyRangeWorks_{true};
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

char PathSeparator() { return '/'; }

std::string ErrorText(int code) { return std::strerror(code); }

bool RenameFile(const std::string& from, const std::string& to, int& error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = errno;
  return false;
}

bool RemoveFile(const std::string& path, int& error) {
  if (::unlink(path.c_str()) == 0) return true;
  error = errno;
  return false;
}

bool SeekFile(FileHandle file, std::uint64_t offset, int& error) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    error = EINVAL;
    return false;
  }
  const off_t to = static_cast<off_t>(offset);
  if (::lseek(ToFd(file), to, SEEK_SET) == to) return true;
  error = errno;
  return false;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string folder(4096, '\0');
  while (::getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) return path;
    folder.resize(folder.size() * 2);
  }
  folder.resize(std::strlen(folder.c_str()));
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + path;
}

std::string UserSettingsFolder() {
  // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/tessaro";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/tessaro";
  return "";
}

}  // namespace tessaro
