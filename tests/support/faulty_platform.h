#pragma once
// FaultyPlatform: the real platform with faults injected where a test asks for
// them, and hooks that let a test act at an exact point (for instance press
// stop while a given file is being read). Rules match a path by its ending.

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tessaro::testing {

class FaultyPlatform : public Platform {
 public:
  FaultyPlatform() : real_(SystemPlatform()) {}

  // Faults. `nth` counts the calls for a matching path from 1; 0 means every one.
  void FailStatus(const std::string& pathEnd, int error, int nth = 0);
  void FailOpen(const std::string& pathEnd, int error, int nth = 0);
  void FailCreate(const std::string& pathEnd, int error);
  // Renames to a matching name, and removals of one, fail.
  void FailRename(const std::string& pathEnd, int error);
  void FailRemove(const std::string& pathEnd, int error);
  void FailRewind(const std::string& pathEnd, int error);
  // Reads of a matching file deliver nothing after `bytes` bytes from its start;
  // `nthOpen` selects which pass over the file: each open begins one, and so
  // does each rewind of an open file (a recovery reads a fragment for its
  // identification, then rewinds it for the copy).
  void ShortReadAfter(const std::string& pathEnd, std::uint64_t bytes, int nthOpen = 0);
  // Writes to a matching file fail once `bytes` bytes have been written (disk full).
  void FailWriteAfter(const std::string& pathEnd, std::uint64_t bytes, int error = 28);
  void FailStartWorker(bool fail) { failWorker_ = fail; }
  // The `length` bytes at `offset` of a matching file cannot be read, as a
  // bad block of a failing card: a read delivers what lies before them.
  void BadBytes(const std::string& pathEnd, std::uint64_t offset, std::uint64_t length);
  // How many reads of a matching file stopped at its unreadable bytes, the
  // most at any one 512-byte sector.
  int MostTriesOfABadSector(const std::string& pathEnd) const;

  // Hooks, on the thread that makes the call (a read of a large file may come
  // from the engine's scan helper thread).
  std::function<void(const std::string& path)> onOpenRead;
  std::function<void(const std::string& path, std::uint64_t offset)> onRead;
  std::function<void(const std::string& path)> onCreate;
  std::function<void(const std::string& path)> onRewind;  // before the rewind

  // Counters.
  int OpenCount(const std::string& pathEnd) const;
  int StatusCount(const std::string& pathEnd) const;
  std::uint64_t BytesRead(const std::string& pathEnd) const;
  int ReadCalls(const std::string& pathEnd) const;

  bool Status(const std::string& path, FileStatus& out, int& error) override;
  FileHandle OpenRead(const std::string& path, int& error) override;
  FileHandle Create(const std::string& path, int& error) override;
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override;
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override;
  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override;
  void Close(FileHandle file) override;
  bool Rename(const std::string& from, const std::string& to, int& error) override;
  bool Remove(const std::string& path, int& error) override;
  bool Rewind(FileHandle file, int& error) override;
  bool Seek(FileHandle file, std::uint64_t offset, int& error) override;
  bool SameFile(const std::string& a, const std::string& b) override { return real_.SameFile(a, b); }
  bool MakeFolder(const std::string& path, int& error) override { return real_.MakeFolder(path, error); }
  void BeginFolder(const std::string& folder) override { real_.BeginFolder(folder); }
  void EndFolder() override { real_.EndFolder(); }
  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view, std::uint64_t)>& each) override {
    return real_.ListFolder(folder, each);
  }
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override;

 private:
  struct Rule {
    std::string pathEnd;
    int error = 0;
    int nth = 0;
    std::uint64_t bytes = 0;
  };
  struct Open {
    std::string path;
    std::uint64_t position = 0;
    std::uint64_t readLimit = UINT64_MAX;
    std::uint64_t written = 0;
    std::uint64_t writeLimit = UINT64_MAX;
    int writeError = 0;
  };
  static bool Matches(const std::string& path, const std::string& end);
  bool Hit(std::vector<Rule>& rules, const std::string& path, std::map<std::string, int>& counts, Rule* hit);

  Platform& real_;
  mutable std::mutex mutex_;
  std::vector<Rule> statusRules_, openRules_, createRules_, shortReads_, writeRules_, renameRules_,
      removeRules_, rewindRules_;
  std::map<std::string, int> statusCounts_, openCounts_, createCounts_, renameCounts_, removeCounts_, rewindCounts_;
  std::map<std::string, int> rewinds_;
  void BeginPass(Open& entry);
  std::map<FileHandle, Open> open_;
  std::map<std::string, std::uint64_t> bytesRead_;
  std::map<std::string, int> readCalls_;
  struct Bad {
    std::string pathEnd;
    std::uint64_t offset, length;
  };
  std::vector<Bad> badBytes_;
  std::map<std::pair<std::string, std::uint64_t>, int> badTries_;  // by path and sector
  // Of `n` bytes at `offset` of `path`, how many may arrive before bad ones
  // (mutex_ held); a read that meets them counts a try of their sector.
  std::size_t BeforeBad(const std::string& path, std::uint64_t offset, std::size_t n);
  std::atomic<bool> failWorker_{false};
};

}  // namespace tessaro::testing
