#include "app/part_copies.h"

#include <algorithm>
#include <utility>

namespace tessaro {

PartCopies::PartCopies(Platform& platform, const std::string& fragmentPath, std::size_t chunk,
                       const std::atomic<std::uint8_t>* stop)
    : platform_(platform), chunk_(chunk), stop_(stop) {
  for (Lane& lane : lanes_) {
    int error = 0;
    lane.source = platform_.OpenRead(fragmentPath, error);
    if (lane.source == kNoFile) return;
    lane.buffer = std::make_unique<unsigned char[]>(chunk_);
  }
  for (Lane& lane : lanes_) {
    if (!platform_.StartWorker([this, &lane] { Run(lane); }, lane.worker)) {
      // The lanes already running are let go by the destructor.
      return;
    }
  }
  ready_ = true;
}

PartCopies::~PartCopies() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (Lane& lane : lanes_) {
    if (lane.worker.Joinable()) lane.worker.Join();
    if (lane.source != kNoFile) platform_.Close(lane.source);
  }
}

void PartCopies::Start(Copy copy) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(Job{std::move(copy)});
  }
  changed_.notify_all();
}

std::size_t PartCopies::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size();
}

PartCopies::Copy PartCopies::TakeOldest() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.front().done; });
  Copy copy = std::move(jobs_.front().copy);
  jobs_.pop_front();
  return copy;
}

void PartCopies::Run(Lane& lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto next = jobs_.end();
    changed_.wait(lock, [&] {
      next = std::find_if(jobs_.begin(), jobs_.end(), [](const Job& job) { return !job.claimed; });
      return closing_ || next != jobs_.end();
    });
    if (next == jobs_.end()) return;  // closing, and nothing left to copy
    next->claimed = true;
    // A deque keeps its elements where they are while others are added at
    // its end and taken from its front; this one is taken only once done.
    Copy& copy = next->copy;
    lock.unlock();
    CopyOne(lane, copy);
    lock.lock();
    for (Job& job : jobs_) {
      if (&job.copy == &copy) job.done = true;
    }
    changed_.notify_all();
  }
}

void PartCopies::CopyOne(Lane& lane, Copy& copy) {
  if (Stopped()) {
    copy.stopped = true;
    return;
  }
  copy.begun = true;
  if (!platform_.Seek(lane.source, copy.offset, copy.error)) {
    copy.result = Platform::CopyResult::kReadFailed;
    return;
  }
  while (copy.copied < copy.length) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, copy.length - copy.copied));
    copy.result = platform_.CopyChunk(lane.source, copy.dest, lane.buffer.get(), n, copy.error);
    if (copy.result != Platform::CopyResult::kCopied) return;
    copy.copied += n;
    if (Stopped()) {
      copy.stopped = copy.copied < copy.length;
      return;
    }
  }
}

}  // namespace tessaro
