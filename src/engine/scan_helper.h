#pragma once
// Searches every other chunk of a container fragment on a second thread.
//
// Copying a chunk out of the system's cache costs more than searching it for
// the content strings. Done one after the other on one core, the two add up;
// and a chunk read on one core and searched on the other crosses between the
// two cores' caches, which costs nearly as much again. So the two threads
// share the file instead: each reads the chunks it searches, into a buffer
// that stays in its own core's cache, and both cores copy and search at once.
//
// The caller gives the helper one chunk (Give), reads and searches the chunk
// before it itself, and then takes the helper's findings (Take) before it
// decides anything more, so that every verdict is the one a search of the
// chunks in file order would reach.
//
// Platform calls: between a Give and the Take or Cancel that follows it, the
// helper calls ReadAt on the file given, once; the caller may call ReadAt on
// the same file meanwhile, and nothing else on it.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/find_bytes.h"
#include "platform/platform.h"

namespace tessaro {

// A content string of the file in hand, and the index of its found-flag.
struct ScanNeedle {
  const unsigned char* bytes;
  std::size_t length;
  std::size_t flag;
};

// Looks in `window` for those of needles[0 .. count) whose flag in `flags` is
// still 0, setting the flag of each one found. `set` is the needle set to use.
void SearchWindow(NeedleSet& set, const ScanNeedle* needles, std::size_t count, unsigned char* flags,
                  const unsigned char* window, std::size_t length);

// Waits for a condition on atomics: spins for up to 50 microseconds, then
// sleeps until rung. Reading and searching a chunk takes about 50
// microseconds, so with the two sides on two cores a wait usually ends inside
// the spin, where a sleep and a wake-up would cost more than the chunk.
class Bell {
 public:
  // Returns once `ready` holds; `ready` may look only at atomics.
  template <typename Ready>
  void Await(Ready ready);
  // After a change that may make a waiter's `ready` hold. Costs nothing
  // unless a side sleeps.
  void Ring();

 private:
  template <typename Ready>
  void Sleep(Ready ready);
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<int> sleepers_{0};
};

class ScanHelper {
 public:
  // Windows of at most `windowCapacity` bytes; flag arrays of `flagCount`.
  ScanHelper(std::size_t windowCapacity, std::size_t flagCount);
  ~ScanHelper();
  ScanHelper(const ScanHelper&) = delete;
  ScanHelper& operator=(const ScanHelper&) = delete;

  // Makes the thread, at the first call. False when none can be had (the
  // caller then searches every chunk itself).
  bool Ready();

  // Has `length` bytes of `file` at `offset` read (in one ReadAt) and searched
  // for those of needles[0 .. count) whose flag in `flags` is 0. The needles
  // must stay as they are until the Take or Cancel that follows. A length
  // beyond the window's capacity counts as a short read.
  void Give(Platform& platform, FileHandle file, std::uint64_t offset, std::size_t length,
            const ScanNeedle* needles, std::size_t count, const unsigned char* flags);

  // Waits for the chunk given last and sets in `flags` the flag of every
  // needle found in it. False when its read came short (nothing is set then).
  bool Take(unsigned char* flags);

  // The chunk given last is not wanted. Returns once the helper has left it
  // and the file alone; what it found is dropped.
  void Cancel();

 private:
  void Run();

  const std::size_t windowCapacity_;
  std::unique_ptr<unsigned char[]> window_;
  std::vector<unsigned char> flags_;  // the helper's own, copied in by Give
  NeedleSet needles_;

  // The chunk in hand: written by Give while the helper waits, read by the
  // helper once it has seen given_ move.
  Platform* platform_ = nullptr;
  FileHandle file_ = kNoFile;
  std::uint64_t offset_ = 0;
  std::size_t length_ = 0;
  const ScanNeedle* list_ = nullptr;
  std::size_t count_ = 0;
  bool whole_ = false;  // written by the helper before done_ moves

  std::atomic<std::uint32_t> given_{0};  // chunks given
  std::atomic<std::uint32_t> done_{0};   // chunks the helper is through with
  std::atomic<bool> cancel_{false};
  std::atomic<bool> quit_{false};
  Bell callerBell_;  // rung when a chunk is done
  Bell helperBell_;  // rung when a chunk is given, and at the end
  std::thread thread_;
};

}  // namespace tessaro
