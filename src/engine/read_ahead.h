#pragma once
// Reads the rest of a file on a thread of its own, a few chunks ahead of the
// content search.
//
// Searching a container fragment for its content strings costs about half as
// much as copying its bytes out of the system's cache; done one after the
// other on one core the two add up. With the reading on a second thread they
// overlap, and the search keeps pace with the reads.
//
// The platform is only ever called by one thread at a time: the caller hands
// the file over with Start and makes no call on it until Finish has returned,
// which it does only once the reader has left the file alone. Chunks come back
// in file order, each read by exactly one Read of the platform, as a caller
// reading them in turn would read them.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace tessaro {

class ReadAhead {
 public:
  // Chunks of `chunkSize` bytes, each with `spaceBefore` writable bytes in
  // front of it (where the caller puts the tail of the chunk before).
  ReadAhead(std::size_t chunkSize, std::size_t spaceBefore);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Starts reading the next `total` bytes of `file` from its current position.
  // False when no thread could be made for it (the caller then reads itself).
  bool Start(Platform& platform, FileHandle file, std::uint64_t total);

  // The next chunk in file order, once it has been read: `length` is set to its
  // size. The chunk before it is handed back. Null when its read failed (came
  // short), or when no bytes are left.
  unsigned char* Next(std::size_t& length);

  // No more chunks of this file are wanted. Returns when the reader makes no
  // further call on the file.
  void Finish();

  static constexpr unsigned kSlots = 2;

 private:
  void Run();
  // Waits for the next file; false when the reader is to end.
  bool AwaitJob(std::uint32_t& job);

  const std::size_t chunkSize_;
  const std::size_t spaceBefore_;
  struct Slot {
    std::unique_ptr<unsigned char[]> buffer;
    std::size_t length = 0;
    bool whole = false;  // the read gave every byte asked for
  };
  Slot slots_[kSlots];

  // A chunk is handed over through counters. The side that waits spins a
  // little first: with the two threads on two cores the other side is
  // usually that close, and a sleep and a wake-up cost more than reading a
  // chunk. Only then does it sleep, on its bell.
  class Bell {
   public:
    // Sleeps until `ready` holds; `ready` looks only at the atomics below.
    template <typename Ready>
    void Sleep(Ready ready);
    // After a change that may make a sleeper's `ready` hold. Costs nothing
    // unless a side sleeps.
    void Ring();

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<int> sleepers_{0};
  };
  Bell callerBell_;  // rung when a chunk is read and when a read ends
  Bell readerBell_;  // rung when a slot is handed back, a file starts or ends

  // job_ is odd while a file is being read (Start makes it odd, Finish even
  // again). The file's details below are written by the caller before job_ is
  // made odd and read by the reader after it has seen that; the reader checks
  // that job_ is still the one it saw after it has set reading_ and before
  // each read.
  std::atomic<std::uint32_t> job_{0};
  std::atomic<bool> reading_{false};        // the reader may be calling the platform
  std::atomic<std::uint32_t> produced_{0};  // chunks of this file read
  std::atomic<std::uint32_t> consumed_{0};  // chunks of this file handed back
  std::atomic<bool> quit_{false};
  std::atomic<Platform*> platform_{nullptr};
  std::atomic<FileHandle> file_{kNoFile};
  std::atomic<std::uint64_t> total_{0};
  bool held_ = false;       // the caller holds slot consumed_ % kSlots
  std::thread thread_;
};

}  // namespace tessaro
