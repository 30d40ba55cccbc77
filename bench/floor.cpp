// tessaro-floor: what the disk and the kernel cost, with no work of our own.
//
//   tessaro-floor head FOLDER    per file: one stat, one open, one read of
//                                4096 bytes, one close (the cost of a
//                                signature-only identification)
//   tessaro-floor whole FOLDER   per file: one open, reads of 262,144 bytes to
//                                the end, one close (the cost of a content scan)
//
// Both list the folder as the passes do (regular files, not names beginning
// with a dot) and print the number of files and bytes read, so a run can be
// checked against ours.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ListRegularFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    std::perror(folder.c_str());
    std::exit(2);
  }
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "head") != 0 && std::strcmp(argv[1], "whole") != 0)) {
    std::fputs("usage: tessaro-floor head|whole FOLDER\n", stderr);
    return 2;
  }
  const bool whole = std::strcmp(argv[1], "whole") == 0;
  const std::string folder = argv[2];
  const std::vector<std::string> names = ListRegularFiles(folder);

  static unsigned char buffer[262144];
  unsigned long long files = 0, bytes = 0;
  unsigned sum = 0;  // keeps the reads' results in use
  std::string path;
  for (const std::string& name : names) {
    path.assign(folder).append("/").append(name);
    if (!whole) {
      struct stat st;
      if (::stat(path.c_str(), &st) != 0) continue;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ++files;
    if (whole) {
      ssize_t n;
      while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes += static_cast<unsigned long long>(n);
        sum += buffer[0];
      }
    } else {
      const ssize_t n = ::read(fd, buffer, 4096);
      if (n > 0) {
        bytes += static_cast<unsigned long long>(n);
        sum += buffer[0];
      }
    }
    ::close(fd);
  }
  std::printf("%llu files, %llu bytes (%u)\n", files, bytes, sum & 0xFF);
  return 0;
}
