#include "win_test_support.h"

#include <algorithm>
#include <atomic>

namespace tessaro::wintest {

std::wstring W(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string U(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  std::wstring root(base, n);
  if (!root.empty() && root.back() == L'\\') root.pop_back();
  for (;;) {
    std::wstring candidate = root + L"\\tessaro-win-" + std::to_wstring(GetCurrentProcessId()) +
                             L"-" + std::to_wstring(counter++);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = U(candidate);
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      path_.clear();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(W(path_));
}

std::string TempDir::operator/(const std::string& name) const { return path_ + "\\" + name; }

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string file = *this / name;
  WriteFileBytes(file, bytes);
  return file;
}

std::string TempDir::Sub(const std::string& name) const {
  std::string folder = *this / name;
  CreateDirectoryW(W(folder).c_str(), nullptr);
  return folder;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() ||
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::string& path, const std::string& missing) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return missing;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> FolderEntries(const std::string& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((W(folder) + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::wstring& path) {
  const std::wstring long_path = path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((long_path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = long_path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(child);
      } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(child.c_str());
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(long_path.c_str());
}

namespace {

std::wstring SelfPath() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return path;
}

bool StartSelf(const std::wstring& arguments, PROCESS_INFORMATION& process) {
  std::wstring command = L"\"" + SelfPath() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process) != FALSE;
}

}  // namespace

int RunSelf(const std::wstring& arguments) {
  PROCESS_INFORMATION process{};
  if (!StartSelf(arguments, process)) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

FileHolder::FileHolder(const std::string& path, Mode mode) {
  // Two inheritable events: "the file is open" and "let it go".
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE ready = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  release_ = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  std::wstring arguments = L"--hold-open \"" + W(path) + L"\" " +
                           (mode == Mode::kExclusive ? L"exclusive" : L"write") + L" " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(ready)) + L" " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(release_));
  if (StartSelf(arguments, process_)) {
    HANDLE waits[2] = {ready, process_.hProcess};
    holding_ = WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
  }
  CloseHandle(ready);
}

FileHolder::~FileHolder() {
  SetEvent(release_);
  if (process_.hProcess != nullptr) {
    WaitForSingleObject(process_.hProcess, 60000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  CloseHandle(release_);
}

int RunFileHolder(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  const bool exclusive = std::wstring(argv[3]) == L"exclusive";
  auto ready = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(argv[4])));
  auto release = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(argv[5])));
  // A writer that lets others read (a log being appended to), or one that
  // lets nobody in at all.
  HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE,
                            exclusive ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  SetEvent(ready);
  WaitForSingleObject(release, 120000);
  CloseHandle(file);
  return 0;
}

MappedDrive::MappedDrive(const std::string& folder) {
  const DWORD used = GetLogicalDrives();
  for (wchar_t letter = L'T'; letter <= L'Y'; ++letter) {
    if (used & (1u << (letter - L'A'))) continue;
    const wchar_t drive[3] = {letter, L':', 0};
    if (!DefineDosDeviceW(0, drive, W(folder).c_str())) continue;
    defined_ = letter;
    // Does the mapping reach the files?
    const std::string root = std::string(1, static_cast<char>(letter)) + ":\\";
    const std::string probe = root + "tessaro-probe";
    if (WriteFileBytes(probe, "p") && FileExists(folder + "\\tessaro-probe")) {
      DeleteFileW(W(probe).c_str());
      root_ = root;
      folder_ = folder;
      return;
    }
    break;
  }
  wchar_t prepared[1024] = {};
  if (GetEnvironmentVariableW(L"TESSARO_TEST_DRIVE", prepared, 1024) == 0) return;
  const std::string spec = U(prepared);
  const std::size_t bar = spec.find('|');
  if (bar == std::string::npos) return;
  root_ = spec.substr(0, bar);
  folder_ = spec.substr(bar + 1);
  for (const std::wstring& name : FolderEntries(folder_)) {
    const std::wstring entry = W(folder_) + L"\\" + name;
    SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(entry.c_str())) RemoveTree(entry);
  }
}

MappedDrive::~MappedDrive() {
  if (defined_ == 0) return;
  const wchar_t drive[3] = {defined_, L':', 0};
  DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive, nullptr);
}

}  // namespace tessaro::wintest
