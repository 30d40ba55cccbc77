// What every platform shares: path joining, the program's folder, the plain
// copy of a chunk through a buffer, and status and open one after the other.

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tessaro {

Platform::CopyResult Platform::CopyChunk(FileHandle source, FileHandle dest, void* buffer,
                                         std::size_t n, int& error) {
  if (Read(source, buffer, n) != n) return CopyResult::kReadFailed;
  if (!Write(dest, buffer, n, error)) return CopyResult::kWriteFailed;
  return CopyResult::kCopied;
}

FileHandle Platform::StatusAndOpen(const std::string& path, FileStatus& status, int& error, bool& statusFailed) {
  statusFailed = !Status(path, status, error);
  if (statusFailed || status.size == 0) return kNoFile;
  return OpenRead(path, error);
}

void JoinPathInto(std::string& path, std::string_view folder, std::string_view name) {
  path.clear();
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  path.push_back(PathSeparator());
  path.append(name);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path;
  JoinPathInto(path, folder, name);
  return path;
}

std::string ParentFolder(std::string_view path) {
  // Windows takes either slash; elsewhere only '/' separates.
  auto separator = [](char c) { return c == '/' || c == PathSeparator(); };
  std::size_t end = path.size();
  while (end > 0 && separator(path[end - 1])) --end;
  std::size_t cut = end;
  while (cut > 0 && !separator(path[cut - 1])) --cut;
  if (end == 0 || cut == 0) {
    // All separators: the root, its own parent. No separator at all: a name
    // relative to a folder nobody told us.
    return end == 0 && !path.empty() ? std::string(path.substr(0, 1)) : std::string();
  }
  std::size_t keep = cut;
  while (keep > 0 && separator(path[keep - 1])) --keep;
  // Just below the root, the parent is the root with its separator.
  std::string parent(path.substr(0, keep == 0 ? 1 : keep));
  // "C:" alone would be the drive's current folder, not its root.
  if (PathSeparator() == '\\' && parent.size() == 2 && parent[1] == ':') parent.push_back('\\');
  return parent;
}

std::string ExecutableDirectory() {
  std::string path;
#if defined(_WIN32)
  wchar_t wide[32768];
  DWORD n = GetModuleFileNameW(nullptr, wide, 32768);
  if (n == 0 || n >= 32768) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  path.resize(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), path.data(), bytes, nullptr, nullptr);
#else
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  path.assign(buffer, static_cast<std::size_t>(n));
#endif
  const std::size_t cut = path.find_last_of(PathSeparator());
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool FileNamesIgnoreCase() {
#if defined(_WIN32)
  return true;
#else
  return false;
#endif
}

}  // namespace tessaro
