#include "engine/scan_helper.h"

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

}  // namespace

void SearchWindow(NeedleSet& set, const ScanNeedle* needles, std::size_t count, unsigned char* flags,
                  const unsigned char* window, std::size_t length) {
  set.Clear();
  for (std::size_t i = 0; i < count; ++i) {
    const ScanNeedle& needle = needles[i];
    if (!flags[needle.flag]) set.Add(needle.bytes, needle.length, &flags[needle.flag]);
  }
  set.Search(window, length);
}

template <typename Ready>
void Bell::Await(Ready ready) {
  if (ready()) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
  for (;;) {
    for (int i = 0; i < 16; ++i) {
      Pause();
      if (ready()) return;
    }
    if (std::chrono::steady_clock::now() >= until) break;
  }
  Sleep(ready);
}

template <typename Ready>
void Bell::Sleep(Ready ready) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A ringer changes what `ready` looks at and then counts the sleepers; this
  // counts itself and then looks. Either the ringer sees this sleeper and
  // wakes it (it cannot slip in before the wait: the lock is held till then),
  // or this sees the change.
  sleepers_.fetch_add(1);
  while (!ready()) cv_.wait(lock);
  sleepers_.fetch_sub(1);
}

void Bell::Ring() {
  if (sleepers_.load() == 0) return;
  { std::lock_guard<std::mutex> lock(mutex_); }
  cv_.notify_all();
}

ScanHelper::ScanHelper(std::size_t windowCapacity, std::size_t flagCount)
    : windowCapacity_(windowCapacity), flags_(flagCount, 0) {
  needles_.Reserve(flagCount);
}

ScanHelper::~ScanHelper() {
  quit_.store(true);
  helperBell_.Ring();
  if (thread_.joinable()) thread_.join();
}

bool ScanHelper::Ready() {
  if (thread_.joinable()) return true;
  if (!window_) window_ = std::make_unique<unsigned char[]>(windowCapacity_);
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void ScanHelper::Give(Platform& platform, FileHandle file, std::uint64_t offset, std::size_t length,
                      const ScanNeedle* needles, std::size_t count, const unsigned char* flags) {
  platform_ = &platform;
  file_ = file;
  offset_ = offset;
  length_ = length;
  list_ = needles;
  count_ = count;
  for (std::size_t i = 0; i < count; ++i) flags_[needles[i].flag] = flags[needles[i].flag];
  cancel_.store(false, std::memory_order_relaxed);
  given_.fetch_add(1);  // publishes the above
  helperBell_.Ring();
}

bool ScanHelper::Take(unsigned char* flags) {
  const std::uint32_t given = given_.load(std::memory_order_relaxed);
  callerBell_.Await([&] { return done_.load() == given; });
  if (!whole_) return false;
  for (std::size_t i = 0; i < count_; ++i) {
    const std::size_t flag = list_[i].flag;
    if (flags_[flag]) flags[flag] = 1;
  }
  return true;
}

void ScanHelper::Cancel() {
  const std::uint32_t given = given_.load(std::memory_order_relaxed);
  cancel_.store(true);
  callerBell_.Await([&] { return done_.load() == given; });
}

void ScanHelper::Run() {
  std::uint32_t done = 0;
  for (;;) {
    helperBell_.Await([&] { return quit_.load() || given_.load() != done; });
    if (quit_.load()) return;
    whole_ = length_ <= windowCapacity_ && platform_->ReadAt(file_, offset_, window_.get(), length_) == length_;
    if (whole_ && !cancel_.load()) SearchWindow(needles_, list_, count_, flags_.data(), window_.get(), length_);
    done_.store(++done);
    callerBell_.Ring();
  }
}

}  // namespace tessaro
