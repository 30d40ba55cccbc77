#pragma once
// Rescue reading: fragments that lie on a failing medium.
//
// A disk check is usually run because a card or a disk is failing, and its
// fragments often lie on that same medium. Without rescue, one unreadable
// sector fails the whole fragment. With it, the first read that fails (or
// that takes longer than the slow limit) makes the whole fragment be read
// once, carefully:
//   - in order, in large steps until a read fails, then in 4 KiB steps;
//   - after a failure the next 64 KiB are skipped, and after a slow read the
//     next 64 KiB too, so that a bad patch is not hammered while the rest of
//     the fragment is still unread;
//   - at the end the skipped areas are read once more, sector by sector where
//     an error was (4 KiB steps where it was only slow), and a sector that
//     fails then is unreadable for good.
// No sector is tried more than twice. What could be read is kept in an image
// in the scratch folder (the destination), and every later read of the
// fragment (identification, check, names, copy) is served from there, with
// zeros in the unreadable sectors; without a scratch folder, readable areas
// are read again from the medium and the unreadable ones are never retried.
//
// RescueReads is a Platform in front of another: with rescue off, every call
// goes straight through, and a healthy fragment costs nothing either way.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace tessaro {

class RescueReads final : public Platform {
 public:
  struct Range {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
  };

  static constexpr std::uint64_t kSector = 512;
  static constexpr std::size_t kStep = 4096;
  static constexpr std::size_t kLargeStep = 65536;
  static constexpr std::uint64_t kSkip = 65536;

  explicit RescueReads(Platform& inner);
  ~RescueReads() override;

  // Rescue on or off, for the files opened from now on.
  void Enable(bool on) { enabled_ = on; }
  bool Enabled() const { return enabled_; }
  // Where the images of damaged fragments are kept while they are open;
  // "" keeps none.
  void SetScratchFolder(std::string folder);
  // Seen before every read of a careful pass: a stop ends the pass, and the
  // parts it did not reach read as failures.
  void SetStopFlag(const std::atomic<std::uint8_t>* stop) { stop_ = stop; }
  // Told how far a careful pass has come through its fragment.
  void SetProgress(std::function<void(std::uint64_t done, std::uint64_t total)> progress) {
    progress_ = std::move(progress);
  }
  // A read that takes longer than this marks its area slow.
  void SetSlowLimit(std::chrono::milliseconds limit) { slowLimit_ = limit; }

  // The unreadable sectors of an open file that lie in [offset, offset +
  // length), relative to `offset`, in order; none for a file read without
  // trouble.
  std::vector<Range> Unreadable(FileHandle file, std::uint64_t offset, std::uint64_t length) const;

  // Platform.
  bool Status(const std::string& path, FileStatus& out, int& error) override { return inner_.Status(path, out, error); }
  FileHandle OpenRead(const std::string& path, int& error) override;
  FileHandle StatusAndOpen(const std::string& path, FileStatus& status, int& error, bool& statusFailed) override;
  FileHandle Create(const std::string& path, int& error) override { return inner_.Create(path, error); }
  std::size_t Read(FileHandle file, void* buffer, std::size_t n) override;
  std::size_t ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t n) override;
  bool Write(FileHandle file, const void* buffer, std::size_t n, int& error) override {
    return inner_.Write(file, buffer, n, error);
  }
  void Close(FileHandle file) override;
  bool Rename(const std::string& from, const std::string& to, int& error) override {
    return inner_.Rename(from, to, error);
  }
  bool Remove(const std::string& path, int& error) override { return inner_.Remove(path, error); }
  bool Rewind(FileHandle file, int& error) override;
  bool Seek(FileHandle file, std::uint64_t offset, int& error) override;
  CopyResult CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n, int& error) override;
  bool SameFile(const std::string& a, const std::string& b) override { return inner_.SameFile(a, b); }
  bool MakeFolder(const std::string& path, int& error) override { return inner_.MakeFolder(path, error); }
  bool ListFolder(const std::string& folder,
                  const std::function<void(std::string_view name, std::uint64_t size)>& each) override {
    return inner_.ListFolder(folder, each);
  }
  bool ListFolderNames(const std::string& folder, const std::function<void(std::string_view name)>& each) override {
    return inner_.ListFolderNames(folder, each);
  }
  void BeginFolder(const std::string& folder) override { inner_.BeginFolder(folder); }
  void EndFolder() override { inner_.EndFolder(); }
  unsigned UsableProcessors() override { return inner_.UsableProcessors(); }
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override {
    return inner_.StartWorker(std::move(body), handle);
  }

 private:
  static constexpr std::uint64_t kNone = UINT64_MAX;

  // One file opened for reading while rescue was on.
  struct Open {
    std::uint64_t size = kNone;  // kNone: unknown, so a short read is no sure error
    std::uint64_t position = 0;  // the file position, for Read and CopyChunk
    std::atomic<bool> rescued{false};
    std::atomic<bool> careful{false};  // the careful pass has begun
    std::atomic<int> direct{0};        // reads of the medium on their way outside it
    // Sectors that failed a read outside the careful pass, in the order seen,
    // and whether that read had asked for them twice (badMutex_ guards it: a
    // second reader, the content scan's helper, may fail while the careful
    // pass runs).
    std::vector<std::pair<std::uint64_t, bool>> knownBad;
    std::vector<Range> unreadable;   // in order, not touching
    std::vector<Range> untried;      // left unread by a stop, in order
    FileHandle image = kNoFile;
    std::string imagePath;
  };

  Open* Find(FileHandle file) const;
  void Track(FileHandle file, std::uint64_t size);
  // The careful pass over the whole file (mutex_ held).
  void Rescue(FileHandle file, Open& open);
  // A read of a rescued file (mutex_ held).
  std::size_t Serve(FileHandle file, Open& open, std::uint64_t offset, void* buffer, std::size_t n);
  bool Stopped() const { return stop_ != nullptr && stop_->load() != 0; }
  // Whether a read may go to the medium directly (the careful pass has not
  // begun); when true, the read is counted in `direct` until it is noted.
  bool BeginDirect(Open& open);
  // Notes that a read from `offset` gave `got` bytes of the `n` asked for.
  void NoteFailure(Open& open, std::uint64_t offset, std::size_t got);
  // The first sector in [from, to) known to fail, and whether it was asked
  // for twice; {kNone, false} when there is none.
  std::pair<std::uint64_t, bool> KnownBad(const Open& open, std::uint64_t from, std::uint64_t to) const;

  Platform& inner_;
  bool enabled_ = false;
  std::string scratch_;
  const std::atomic<std::uint8_t>* stop_ = nullptr;
  std::function<void(std::uint64_t, std::uint64_t)> progress_;
  std::chrono::milliseconds slowLimit_{1000};
  mutable std::mutex mutex_;
  mutable std::mutex badMutex_;  // guards each Open's knownBad
  std::unordered_map<FileHandle, std::unique_ptr<Open>> open_;
  std::atomic<std::size_t> tracked_{0};  // open_.size(), for a look without the lock
  std::unique_ptr<unsigned char[]> buffer_;
  std::unique_ptr<unsigned char[]> pending_;  // bytes for the image not written yet
  unsigned images_ = 0;
};

// "1536 unreadable bytes in 2 places, zeros in their place: 4096+512
// 90112+1024": a check's detail for a file read with holes, with the first
// eight places (offset+length; " ..." when there are more).
std::string UnreadableDetail(const std::vector<RescueReads::Range>& unreadable);

}  // namespace tessaro
