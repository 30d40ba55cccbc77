#include "engine/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tessaro {

namespace {

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

// Waits until `ready`: spins for up to 50 microseconds, then sleeps on
// `bell`. A chunk's read takes about 30 microseconds and its search about
// half that, so with the two sides on two cores the wait usually ends inside
// the spin; the gap between two files of a pass often does too.
template <typename Bell, typename Ready>
void Await(Bell& bell, Ready ready) {
  if (ready()) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
  for (;;) {
    for (int i = 0; i < 16; ++i) {
      Pause();
      if (ready()) return;
    }
    if (std::chrono::steady_clock::now() >= until) break;
  }
  bell.Sleep(ready);
}

}  // namespace

template <typename Ready>
void ReadAhead::Bell::Sleep(Ready ready) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A ringer changes what `ready` looks at and then counts the sleepers; this
  // counts itself and then looks. Either the ringer sees this sleeper and
  // wakes it (it cannot slip in before the wait: the lock is held till then),
  // or this sees the change.
  sleepers_.fetch_add(1);
  while (!ready()) cv_.wait(lock);
  sleepers_.fetch_sub(1);
}

void ReadAhead::Bell::Ring() {
  if (sleepers_.load() == 0) return;
  { std::lock_guard<std::mutex> lock(mutex_); }
  cv_.notify_all();
}

ReadAhead::ReadAhead(std::size_t chunkSize, std::size_t spaceBefore)
    : chunkSize_(chunkSize), spaceBefore_(spaceBefore) {}

ReadAhead::~ReadAhead() {
  quit_.store(true);
  readerBell_.Ring();
  if (thread_.joinable()) thread_.join();
}

bool ReadAhead::Start(Platform& platform, FileHandle file, std::uint64_t total) {
  if (!thread_.joinable()) {
    for (Slot& slot : slots_) {
      if (!slot.buffer) slot.buffer = std::make_unique<unsigned char[]>(spaceBefore_ + chunkSize_);
    }
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return false;
    }
  }
  platform_.store(&platform);
  file_.store(file);
  total_.store(total);
  held_ = false;
  produced_.store(0, std::memory_order_relaxed);
  consumed_.store(0, std::memory_order_relaxed);
  job_.fetch_add(1);  // odd: publishes the above
  readerBell_.Ring();
  return true;
}

unsigned char* ReadAhead::Next(std::size_t& length) {
  length = 0;
  std::uint32_t consumed = consumed_.load(std::memory_order_relaxed);
  if (held_) {
    consumed_.store(++consumed);
    held_ = false;
    readerBell_.Ring();
  }
  Await(callerBell_, [&] { return produced_.load() != consumed; });
  held_ = true;
  Slot& slot = slots_[consumed % kSlots];
  if (!slot.whole) return nullptr;
  length = slot.length;
  return slot.buffer.get() + spaceBefore_;
}

void ReadAhead::Finish() {
  job_.fetch_add(1);  // even: no more reads
  readerBell_.Ring();
  // The reader sets reading_ before it looks at job_: either it sees the job
  // ended, or this sees it reading and waits for that one read to end.
  Await(callerBell_, [&] { return !reading_.load(); });
  held_ = false;
}

bool ReadAhead::AwaitJob(std::uint32_t& job) {
  // The job seen is kept as it was seen: should it end before the reader gets
  // going, the reader finds job_ changed before any read.
  std::uint32_t seen = job;
  Await(readerBell_, [&] {
    const std::uint32_t now = job_.load();
    if ((now & 1) != 0 && now != job) seen = now;
    return quit_.load() || seen != job;
  });
  job = seen;
  return !quit_.load();
}

void ReadAhead::Run() {
  std::uint32_t job = 0;
  while (AwaitJob(job)) {
    // Read as they stand: if they already belong to a later job, job_ has
    // changed and nothing is read with them.
    Platform& platform = *platform_.load();
    const FileHandle file = file_.load();
    std::uint64_t left = total_.load();
    std::uint32_t produced = 0;
    while (left > 0) {
      // A free slot, unless the file is done with.
      bool ended = false;
      Await(readerBell_, [&] {
        ended = job_.load() != job || quit_.load();
        return ended || produced - consumed_.load() < kSlots;
      });
      if (ended) break;
      reading_.store(true);
      if (job_.load() != job) {
        reading_.store(false);
        callerBell_.Ring();
        break;
      }
      Slot& slot = slots_[produced % kSlots];
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunkSize_));
      const std::size_t got = platform.Read(file, slot.buffer.get() + spaceBefore_, want);
      slot.length = got;
      slot.whole = got == want;
      // After a short read the file is not read any further.
      left = slot.whole ? left - want : 0;
      produced_.store(++produced);
      reading_.store(false);
      callerBell_.Ring();
    }
  }
}

}  // namespace tessaro
