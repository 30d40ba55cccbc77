#pragma once
// The copies of a split fragment's files, on threads of their own.
//
// A fragment of many files is written as many files, one after another.
// While one is copied, the next can be: two copies at once, each thread
// reading the fragment through a handle of its own, keep two processors busy
// where one would wait on the other half of the work (the page cache's copy
// into the new file). The caller names and creates each file, hands its copy
// over, and takes the copies back in the order given, so that what it tells
// of them keeps fragment order.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace tessaro {

class PartCopies {
 public:
  static constexpr std::size_t kLanes = 2;

  struct Copy {
    FileHandle dest = kNoFile;
    std::uint64_t offset = 0;  // in the fragment
    std::uint64_t length = 0;
    // As it went: bytes copied, and why it stopped short.
    std::uint64_t copied = 0;
    Platform::CopyResult result = Platform::CopyResult::kCopied;
    int error = 0;
    bool stopped = false;  // a stop came before its last byte
    bool begun = false;    // a stop came before its first: it never began
  };

  // Opens `fragmentPath` once per lane; `stop` is looked at after every chunk.
  PartCopies(Platform& platform, const std::string& fragmentPath, std::size_t chunk,
             const std::atomic<std::uint8_t>* stop);
  ~PartCopies();
  PartCopies(const PartCopies&) = delete;
  PartCopies& operator=(const PartCopies&) = delete;

  // Whether every lane has its handle and its thread; when not, copy in turn.
  bool Ready() const { return ready_; }
  void Start(Copy copy);
  // The copies handed over and not yet taken back.
  std::size_t Pending() const;
  // Waits for the oldest copy not yet taken back, and gives it back.
  Copy TakeOldest();

 private:
  struct Job {
    Copy copy;
    bool claimed = false;
    bool done = false;
  };
  struct Lane {
    FileHandle source = kNoFile;
    std::unique_ptr<unsigned char[]> buffer;
    WorkerHandle worker;
  };

  void Run(Lane& lane);
  void CopyOne(Lane& lane, Copy& copy);
  bool Stopped() const { return stop_ != nullptr && stop_->load() != 0; }

  Platform& platform_;
  const std::size_t chunk_;
  const std::atomic<std::uint8_t>* stop_;
  Lane lanes_[kLanes];
  bool ready_ = false;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool closing_ = false;
};

}  // namespace tessaro
