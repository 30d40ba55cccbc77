#include "gui/window_calls.h"

#include <QMetaObject>
#include <QSocketNotifier>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessaro::gui {

WindowCalls::WindowCalls(QObject* parent) : QObject(parent), owner_(std::this_thread::get_id()) {
#ifndef _WIN32
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    notifier_ = new QSocketNotifier(wakeRead_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { RunPending(); });
  }
#endif
}

WindowCalls::~WindowCalls() {
  Close();
  delete notifier_;
  notifier_ = nullptr;
#ifndef _WIN32
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
#endif
}

void WindowCalls::Wake() {
#ifndef _WIN32
  if (wakeWrite_ >= 0) {
    char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost when this write fails.
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
    return;
  }
#endif
  // Without the pipe, Qt's own queue carries the wake-up.
  QMetaObject::invokeMethod(this, [this] { RunPending(); }, Qt::QueuedConnection);
}

void WindowCalls::Run(const std::function<void()>& call) {
  if (OnWindowThread()) {
    call();
    return;
  }
  Pending pending{&call};
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return;
  queue_.push_back(&pending);
  lock.unlock();
  Wake();
  lock.lock();
  finished_.wait(lock, [&] { return pending.done; });
}

void WindowCalls::RunPending() {
#ifndef _WIN32
  if (wakeRead_ >= 0) {
    char sink[64];
    while (::read(wakeRead_, sink, sizeof sink) > 0) {
    }
  }
#endif
  // One at a time: a call may open a modal box whose event loop comes back here.
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.empty()) return;
    Pending* pending = queue_.front();
    queue_.pop_front();
    lock.unlock();
    (*pending->call)();
    lock.lock();
    pending->done = true;
    finished_.notify_all();
    lock.unlock();
    if (afterEach_) afterEach_();
  }
}

void WindowCalls::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (Pending* pending : queue_) pending->done = true;
  queue_.clear();
  finished_.notify_all();
}

}  // namespace tessaro::gui
