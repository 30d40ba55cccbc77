#pragma once
// The one door to the operating system: file status, read-only open, create,
// chunk reads and writes, folder listing, worker threads. Everything above this
// layer reaches the system only through a Platform, so tests can put a
// fault-injecting one in its place (see tests/support/faulty_platform.h).
//
// Paths and names are UTF-8 byte strings on every system. Error codes are the
// system's own numbers (errno on POSIX, GetLastError on Windows); ErrorText
// turns one into words.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace tessaro {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

struct FileStatus {
  std::uint64_t size = 0;
  bool isRegular = false;
  bool isDirectory = false;
};

// One worker thread. Start runs `body` on a new thread; Join waits for it.
// A WorkerHandle that was started must be joined before it is destroyed.
class WorkerHandle {
 public:
  WorkerHandle() = default;
  WorkerHandle(const WorkerHandle&) = delete;
  WorkerHandle& operator=(const WorkerHandle&) = delete;
  ~WorkerHandle();

  bool Joinable() const { return impl_ != nullptr; }
  void Join();

  // For Platform implementations only.
  struct Impl;
  void Adopt(Impl* impl) { impl_ = impl; }

 private:
  Impl* impl_ = nullptr;
};

// The system's own rename, removal and absolute path; a Platform's Rename and
// Remove call the first two unless it puts its own in their place.
bool RenameFile(const std::string& from, const std::string& to, int& error);
bool RemoveFile(const std::string& path, int& error);
bool SeekFile(FileHandle file, std::uint64_t offset, int& error);

class Platform {
 public:
  virtual ~Platform() = default;

  // Status by path (follows links, like the runtime's stat). False with `error`
  // set when the query fails.
  virtual bool Status(const std::string& path, FileStatus& out, int& error) = 0;

  // Opens an existing file for reading only; never for update. kNoFile on failure.
  virtual FileHandle OpenRead(const std::string& path, int& error) = 0;

  // Status and then, unless it fails or gives a size of 0, OpenRead, of one
  // file. Returns the open file; or kNoFile, with `statusFailed` telling
  // which of the two failed (neither: the file is empty, and left unopened).
  // Inside a folder begun with BeginFolder a system may open first and ask
  // the open file its status, with the same outcomes for the files a listing
  // gives; the default makes the two calls in turn.
  virtual FileHandle StatusAndOpen(const std::string& path, FileStatus& status, int& error, bool& statusFailed);

  // Creates a file, or truncates an existing one, for writing.
  virtual FileHandle Create(const std::string& path, int& error) = 0;

  // Reads up to `n` bytes from the file position, retrying short transfers,
  // and returns how many arrived (less than `n` only at end of file or on error).
  virtual std::size_t Read(FileHandle file, void* buffer, std::size_t n) = 0;

  // As Read, at an absolute offset; the file position is not used or moved.
  // Two threads may read one file so at once (the content scan does); the
  // file position is unspecified afterwards.
  virtual std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer,
                             std::size_t n) = 0;

  // Writes all `n` bytes or fails with `error` set.
  virtual bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) = 0;

  virtual void Close(FileHandle file) = 0;

  // Gives the file `from` the name `to`, replacing a file of that name. False
  // with `error` when it cannot.
  virtual bool Rename(const std::string& from, const std::string& to, int& error) {
    return RenameFile(from, to, error);
  }

  // Removes the file `path` (never a folder). False with `error` when it cannot.
  virtual bool Remove(const std::string& path, int& error) { return RemoveFile(path, error); }

  // Puts the file position of `file` back to its start, for Read and
  // CopyChunk. False with `error` when it cannot.
  virtual bool Rewind(FileHandle file, int& error) { return Seek(file, 0, error); }
  // Puts the file position of `file` at `offset`, for Read and CopyChunk.
  // False with `error` when it cannot.
  virtual bool Seek(FileHandle file, std::uint64_t offset, int& error) { return SeekFile(file, offset, error); }

  // What became of one CopyChunk.
  enum class CopyResult {
    kCopied,       // all `n` bytes
    kReadFailed,   // fewer than `n` bytes could be read; none of them is left written
    kWriteFailed,  // the write failed, with `error` set; part of the chunk may be written
  };

  // Moves the next `n` bytes of `source` to `dest`, each at its file position,
  // as one Read of `n` bytes into `buffer` (at least `n` bytes long) and one
  // Write of them would. A system that copies between files itself does it so,
  // without bringing the bytes up to `buffer`. The default is that Read and Write.
  virtual CopyResult CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n,
                               int& error);

  // True when both paths name one existing file or folder.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;

  // Makes the folder `path` (its parent must exist); false with `error` when
  // it cannot, also when something of that name is there already.
  virtual bool MakeFolder(const std::string& path, int& error) = 0;

  // Calls `each` with the name and size of every regular file directly inside
  // `folder`, in the order of the file system. Folders, links, pipes, sockets
  // and devices are left out. False when the folder cannot be listed.
  virtual bool ListFolder(const std::string& folder,
                          const std::function<void(std::string_view name, std::uint64_t size)>& each) = 0;

  // As ListFolder, for a caller that needs no sizes: where the listing itself
  // tells each entry's type, no file's status is queried. The default lists
  // with ListFolder.
  virtual bool ListFolderNames(const std::string& folder,
                               const std::function<void(std::string_view name)>& each) {
    return ListFolder(folder, [&](std::string_view name, std::uint64_t) { each(name); });
  }

  // While a pass works through the files of one folder: the calling thread's
  // Status and OpenRead of a path directly inside `folder` (folder, separator,
  // name) may then name the file relative to the folder, opened here once,
  // which spares the system a walk down the whole path for each file. The
  // answers are those for the path, as long as the folder stays where it is.
  // EndFolder lets go of it; a FolderScope does both. The default does nothing.
  virtual void BeginFolder(const std::string& folder) {}
  virtual void EndFolder() {}

  // The processors this program may run on, at least 1. The default counts
  // those of the machine.
  virtual unsigned UsableProcessors() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
  }

  // Starts `body` on a new worker thread. False when no thread could be made.
  // The standard library's threads serve every system.
  virtual bool StartWorker(std::function<void()> body, WorkerHandle& handle);
};

// BeginFolder for the life of the scope.
class FolderScope {
 public:
  FolderScope(Platform& platform, const std::string& folder) : platform_(platform) {
    platform_.BeginFolder(folder);
  }
  ~FolderScope() { platform_.EndFolder(); }
  FolderScope(const FolderScope&) = delete;
  FolderScope& operator=(const FolderScope&) = delete;

 private:
  Platform& platform_;
};

// The real system.
Platform& SystemPlatform();

// The separator the system joins paths with.
char PathSeparator();

// folder + separator + name. The separator is always added, as the passes name
// their paths; a root folder thus gives a doubled separator, which every
// supported system accepts.
std::string JoinPath(std::string_view folder, std::string_view name);

// The same join written into `path`, whose storage is reused: a pass joins one
// path per file without allocating for each.
void JoinPathInto(std::string& path, std::string_view folder, std::string_view name);

// The folder that holds `path`: "/media/disk" for "/media/disk/FOUND.000" (a
// trailing separator changes nothing). A root is its own parent; a bare name
// has none that is known, and gives "".
std::string ParentFolder(std::string_view path);

// `path` made absolute against the current folder, as the system resolves
// it; `path` itself when that cannot be known.
std::string AbsolutePath(const std::string& path);

// The user's own folder for this program's settings: %APPDATA%\Tessaro on
// Windows, $XDG_CONFIG_HOME/tessaro (by default ~/.config/tessaro) elsewhere.
// "" when the environment names none. Not made here.
std::string UserSettingsFolder();

// The folder that holds the running program ("" when unknown).
std::string ExecutableDirectory();

// True where the file system compares names without regard to case (Windows).
bool FileNamesIgnoreCase();

// Words for a system error code.
std::string ErrorText(int code);

}  // namespace tessaro
