#pragma once
// Helpers of the Windows tests. They reach the file system only through the
// wide calls, so what they check does not depend on the code page of the
// test machine, and they never go through the code under test.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::wintest {

// A fresh folder under the system's temporary folder, removed with all it
// holds (read-only files too) afterwards. Paths are UTF-8.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path + "\" + name
  std::string operator/(const std::string& name) const;
  // Writes `bytes` to `name` and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Sub(const std::string& name) const;

 private:
  std::string path_;
};

std::wstring W(const std::string& utf8);
std::string U(const std::wstring& wide);

bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The bytes of a file, or `missing` when it cannot be read.
std::string ReadFileBytes(const std::string& path, const std::string& missing = "<missing>");
bool FileExists(const std::string& path);
// The names of the entries of a folder as the system spells them, "." and
// ".." left out, sorted.
std::vector<std::wstring> FolderEntries(const std::string& folder);
void RemoveTree(const std::wstring& path);

// A program of our own that holds a file open in another process, the way an
// editor or a copy program may while our program reads it.
class FileHolder {
 public:
  enum class Mode { kWriteSharedRead, kExclusive };
  // Starts this test program again as the holder; returns once the file is open.
  FileHolder(const std::string& path, Mode mode);
  ~FileHolder();  // ends the holder
  bool Holding() const { return holding_; }

 private:
  PROCESS_INFORMATION process_{};
  HANDLE release_ = nullptr;
  bool holding_ = false;
};

// The holder's side: called from main when the program was started with
// "--hold-open". Returns the process exit code.
int RunFileHolder(int argc, wchar_t** argv);

// Runs this test program again with `arguments` and returns its exit code,
// or -1 when it could not be started.
int RunSelf(const std::wstring& arguments);

// A drive's root for the tests. On Windows a free letter is mapped to
// `folder`; under Wine, where such a mapping does not reach the files, the
// drive the test run prepared (TESSARO_TEST_DRIVE="X:\|folder") is used,
// emptied first. Files put in Root() appear in Folder().
class MappedDrive {
 public:
  explicit MappedDrive(const std::string& folder);
  ~MappedDrive();
  bool Mapped() const { return !root_.empty(); }
  const std::string& Root() const { return root_; }  // "X:\"
  const std::string& Folder() const { return folder_; }

 private:
  wchar_t defined_ = 0;
  std::string root_, folder_;
};

}  // namespace tessaro::wintest
