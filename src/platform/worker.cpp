// The worker thread, the same on every system: the standard library's thread.

#include <thread>
#include <utility>

#include "platform/platform.h"

namespace tessaro {

struct WorkerHandle::Impl {
  std::thread thread;
};

WorkerHandle::~WorkerHandle() { Join(); }

void WorkerHandle::Join() {
  if (impl_ == nullptr) return;
  if (impl_->thread.joinable()) impl_->thread.join();
  delete impl_;
  impl_ = nullptr;
}

bool Platform::StartWorker(std::function<void()> body, WorkerHandle& handle) {
  handle.Join();
  auto* impl = new WorkerHandle::Impl;
  try {
    impl->thread = std::thread(std::move(body));
  } catch (...) {
    delete impl;
    return false;
  }
  handle.Adopt(impl);
  return true;
}

}  // namespace tessaro
