#include "gui/window_calls.h"

#include <QMetaObject>
#include <QSocketNotifier>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessaro::gui {

WindowCalls::WindowCalls(QObject* parent) : QObject(parent), owner_(std::this_thread::get_id()) {
  frame_.setSingleShot(true);
  frame_.setTimerType(Qt::PreciseTimer);
  connect(&frame_, &QTimer::timeout, this, [this] { FlushChanges(); });
  sinceFlush_.start();
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
    FlushChanges();
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
    if (queue_.empty()) break;
    Pending* pending = queue_.front();
    queue_.pop_front();
    const bool posted = changesPosted_;
    lock.unlock();
    // What was posted before the call is shown before the call is carried out.
    if (posted) FlushChanges();
    (*pending->call)();
    lock.lock();
    pending->done = true;
    finished_.notify_all();
    lock.unlock();
    if (afterEach_) afterEach_();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changesPosted_ || closed_ || frame_.isActive()) return;
  lock.unlock();
  const qint64 wait = kFrameMs - sinceFlush_.elapsed();
  if (wait <= 0) {
    FlushChanges();
  } else {
    frame_.start(static_cast<int>(wait));
  }
}

void WindowCalls::ChangesPosted() {
  std::unique_lock<std::mutex> lock(mutex_);
  // One wake-up a frame: the next ones find the flag still set.
  if (changesPosted_ || closed_) return;
  changesPosted_ = true;
  lock.unlock();
  Wake();
}

void WindowCalls::FlushChanges() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Cleared first: a change posted from here on wakes the window again.
    changesPosted_ = false;
    if (closed_) return;
  }
  frame_.stop();
  sinceFlush_.restart();
  if (flush_) flush_();
}

void WindowCalls::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  changesPosted_ = false;
  for (Pending* pending : queue_) pending->done = true;
  queue_.clear();
  finished_.notify_all();
}

}  // namespace tessaro::gui
