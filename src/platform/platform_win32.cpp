// Windows implementation of the platform layer.
//
// Only the wide (W) calls are used; names cross as UTF-8 (platform/wide_text.h).
// Fragments are opened for reading with every share mode, so a file that
// another program still holds open, even for writing, can be read, and the
// other program is not disturbed.

#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/wide_text.h"

namespace tessaro {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take 32-bit lengths; larger requests go in pieces.
constexpr std::size_t kMaxTransfer = 1u << 30;

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle FromHandle(HANDLE h) { return reinterpret_cast<FileHandle>(h); }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Paths near or beyond MAX_PATH take the "\\?\" form, which has no length
// limit but no normalisation either, so they are made absolute and
// normalised first.
bool Lengthen(std::wstring& out, int& error) {
  if (out.size() < MAX_PATH - 12 || out.rfind(L"\\\\?\\", 0) == 0) return true;
  DWORD need = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
  if (need == 0) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  std::wstring full(need, L'\0');
  DWORD got = GetFullPathNameW(out.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  full.resize(got);
  if (full.rfind(L"\\\\.\\", 0) == 0) {
    out = full;  // a device path already bypasses the limit
  } else if (full.rfind(L"\\\\", 0) == 0) {
    out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    out = L"\\\\?\\" + full;
  }
  return true;
}

// The system form of a UTF-8 path.
bool SystemPath(const std::string& path, std::wstring& out, int& error) {
  if (!win32::Widen(path, out)) {
    error = ERROR_NO_UNICODE_TRANSLATION;
    return false;
  }
  return Lengthen(out, error);
}

bool IsRegularAttributes(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::uint64_t Size(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// A handle for asking about a file, not for its data: it opens even a file
// that another program holds without any sharing, and folders too.
HANDLE OpenForQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// What names one file: the volume and the file's id on it. The 128-bit id
// (ReFS needs it) where the system has it, else the classic 64-bit index.
struct FileIdentity {
  std::uint64_t volume = 0;
  unsigned char id[16] = {};

  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && std::equal(id, id + 16, other.id);
  }
};

bool Identify(HANDLE h, bool wide, FileIdentity& out) {
  if (wide) {
    FILE_ID_INFO info;
    if (!GetFileInformationByHandleEx(h, FileIdInfo, &info, sizeof info)) return false;
    out.volume = info.VolumeSerialNumber;
    std::copy(info.FileId.Identifier, info.FileId.Identifier + 16, out.id);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  out.volume = info.dwVolumeSerialNumber;
  const std::uint64_t index = Size(info.nFileIndexHigh, info.nFileIndexLow);
  for (int i = 0; i < 8; ++i) out.id[i] = static_cast<unsigned char>(index >> (8 * i));
  return true;
}

class Win32Platform final : public Platform {
 public:
  bool Status(const std::string& path, FileStatus& out, int& error) override {
    std::wstring wide;
    if (!SystemPath(path, wide, error)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
      error = static_cast<int>(GetLastError());
      return false;
    }
    DWORD attributes = data.dwFileAttributes;
    std::uint64_t size = Size(data.nFileSizeHigh, data.nFileSizeLow);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link: report what it leads to, as stat does.
      HANDLE h = OpenForQuery(wide);
      BY_HANDLE_FILE_INFORMATION info;
      if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
        error = static_cast<int>(GetLastError());
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return false;
      }
      CloseHandle(h);
      attributes = info.dwFileAttributes;
      size = Size(info.nFileSizeHigh, info.nFileSizeLow);
    }
    out.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.isRegular = IsRegularAttributes(attributes);
    out.size = out.isRegular ? size : 0;
    return true;
  }

  FileHandle OpenRead(const std::string& path, int& error) override {
    std::wstring wide;
    if (!SystemPath(path, wide, error)) return kNoFile;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = static_cast<int>(GetLastError());
      return kNoFile;
    }
    return FromHandle(h);
  }

  FileHandle Create(const std::string& path, int& error) override {
    std::wstring wide;
    if (!SystemPath(path, wide, error)) return kNoFile;
    // Windows refuses to replace a read-only file; Wine run by an all-powerful
    // user would not, and would empty a file the user marked to keep. Asking
    // first gives the same answer everywhere.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      error = ERROR_ACCESS_DENIED;
      return kNoFile;
    }
    // An existing name is replaced only when it is a plain file of its own: a
    // symbolic link or junction, or a second name of a file (a hard link),
    // would lead the output over whatever it names, a fragment even; a device
    // name ("CON.jpg") would write to the device. Such a name is refused, and
    // nothing is truncated before that check: the name is opened as it is
    // (the link itself, not what it leads to) without truncation, looked at,
    // and only then emptied.
    // Readers may look at the output while it is written; nobody else may
    // write or delete it meanwhile.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = static_cast<int>(GetLastError());
      return kNoFile;
    }
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info;
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & kNotAFile) != 0 || info.nNumberOfLinks > 1) {
      CloseHandle(h);
      error = ERROR_FILE_EXISTS;
      return kNoFile;
    }
    if (existed && Size(info.nFileSizeHigh, info.nFileSizeLow) != 0 && !SetEndOfFile(h)) {
      error = static_cast<int>(GetLastError());
      CloseHandle(h);
      return kNoFile;
    }
    return FromHandle(h);
  }

  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override {
    auto* p = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
      DWORD want = static_cast<DWORD>(std::min(n - got, kMaxTransfer));
      DWORD r = 0;
      if (!ReadFile(ToHandle(file), p + got, want, &r, nullptr) || r == 0) break;
      got += r;
    }
    return got;
  }

  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer,
                     std::size_t n) override {
    // A positioned read on a synchronous handle moves the file pointer to
    // its end; the sequential reader must find it where it left it.
    LARGE_INTEGER zero{}, position{};
    if (!SetFilePointerEx(ToHandle(file), zero, &position, FILE_CURRENT)) return 0;
    auto* p = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < n) {
      const std::uint64_t at = offset + got;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD want = static_cast<DWORD>(std::min(n - got, kMaxTransfer));
      DWORD r = 0;
      if (!ReadFile(ToHandle(file), p + got, want, &r, &where) || r == 0) break;
      got += r;
    }
    SetFilePointerEx(ToHandle(file), position, nullptr, FILE_BEGIN);
    return got;
  }

  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override {
    const auto* p = static_cast<const char*>(buffer);
    std::size_t put = 0;
    while (put < n) {
      DWORD want = static_cast<DWORD>(std::min(n - put, kMaxTransfer));
      DWORD w = 0;
      if (!WriteFile(ToHandle(file), p + put, want, &w, nullptr)) {
        error = static_cast<int>(GetLastError());
        return false;
      }
      if (w == 0) {
        error = ERROR_DISK_FULL;
        return false;
      }
      put += w;
    }
    return true;
  }

  void Close(FileHandle file) override {
    if (file != kNoFile) CloseHandle(ToHandle(file));
  }

  bool MakeFolder(const std::string& path, int& error) override {
    std::wstring wide;
    if (!SystemPath(path, wide, error)) return false;
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    error = static_cast<int>(GetLastError());
    return false;
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    std::wstring wa, wb;
    int error = 0;
    if (!SystemPath(a, wa, error) || !SystemPath(b, wb, error)) return false;
    HANDLE ha = OpenForQuery(wa);
    if (ha == INVALID_HANDLE_VALUE) return false;
    HANDLE hb = OpenForQuery(wb);
    if (hb == INVALID_HANDLE_VALUE) {
      CloseHandle(ha);
      return false;
    }
    FileIdentity ia, ib;
    bool known = Identify(ha, true, ia) && Identify(hb, true, ib);
    if (!known) known = Identify(ha, false, ia) && Identify(hb, false, ib);
    CloseHandle(ha);
    CloseHandle(hb);
    return known && ia == ib;
  }

  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view, std::uint64_t)>& each) override {
    // An empty folder text would list the root of the current drive.
    if (folder.empty()) return false;
    std::wstring pattern;
    int error = 0;
    if (!win32::Widen(folder, pattern)) return false;
    // A drive's root ("D:\") already ends in a separator.
    if (!IsSeparator(pattern.back())) pattern.push_back(L'\\');
    pattern.push_back(L'*');
    if (!Lengthen(pattern, error)) return false;

    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
      // No entry at all (an empty drive root has not even "." and "..").
      return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
      // Folders, links and junctions (they lead out of the folder), devices.
      constexpr DWORD kNotAFile =
          FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
      if (entry.dwFileAttributes & kNotAFile) continue;
      each(win32::Narrow(entry.cFileName), Size(entry.nFileSizeHigh, entry.nFileSizeLow));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return true;
  }

  unsigned UsableProcessors() override {
    // Those of the process's affinity mask (within its processor group).
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
      unsigned n = 0;
      for (; process != 0; process &= process - 1) ++n;
      return n;
    }
    return Platform::UsableProcessors();
  }
};

}  // namespace

Platform& SystemPlatform() {
  static Win32Platform platform;
  return platform;
}

char PathSeparator() { return '\\'; }

std::string ErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (n != 0 && text != nullptr) {
    std::wstring_view view(text, n);
    // The system's texts end in a line break, sometimes after a full stop.
    while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' ||
                             view.back() == L' ' || view.back() == L'.')) {
      view.remove_suffix(1);
    }
    words = win32::Narrow(view);
  }
  if (text != nullptr) LocalFree(text);
  if (words.empty()) words = "system error " + std::to_string(code);
  return words;
}


bool RenameFile(const std::string& from, const std::string& to, int& error) {
  std::wstring wideFrom, wideTo;
  if (!SystemPath(from, wideFrom, error) || !SystemPath(to, wideTo, error)) return false;
  if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = static_cast<int>(GetLastError());
  return false;
}

bool RemoveFile(const std::string& path, int& error) {
  std::wstring wide;
  if (!SystemPath(path, wide, error)) return false;
  if (DeleteFileW(wide.c_str())) return true;
  error = static_cast<int>(GetLastError());
  return false;
}

bool SeekFile(FileHandle file, std::uint64_t offset, int& error) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    error = ERROR_NEGATIVE_SEEK;
    return false;
  }
  LARGE_INTEGER start;
  start.QuadPart = static_cast<LONGLONG>(offset);
  if (SetFilePointerEx(ToHandle(file), start, nullptr, FILE_BEGIN)) return true;
  error = static_cast<int>(GetLastError());
  return false;
}

std::string AbsolutePath(const std::string& path) {
  std::wstring wide;
  if (!win32::Widen(path, wide)) return path;
  const DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::wstring full(need, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return path;
  full.resize(got);
  return win32::Narrow(full);
}

std::string UserSettingsFolder() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (appData == nullptr || appData[0] == L'\0') return "";
  return win32::Narrow(appData) + "\\Tessaro";
}

}  // namespace tessaro
