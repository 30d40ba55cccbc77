#pragma once
// WindowCalls: carries a call from a worker thread to the window's thread and
// waits there until the window has carried it out.
//
// The worker hands its call over through a queue guarded by a standard mutex
// and wakes the window's thread through a pipe that the window's event loop
// watches. The worker touches no Qt object on the way, and every hand-over is
// ordered by a mutex or a pipe, which the thread checker sees as well.
//
// Changes that only show something (a text, a bar) need not cost the worker a
// wait: the window keeps them, says so with ChangesPosted(), and they are put
// on screen at the next frame, at most kFrameMs apart. Before every other call
// the window's thread carries out what was posted, so the window changes in
// the order the calls were made.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace tessaro::gui {

class WindowCalls : public QObject {
 public:
  // Made on the window's thread, which then owns it.
  explicit WindowCalls(QObject* parent = nullptr);
  ~WindowCalls() override;

  bool OnWindowThread() const { return std::this_thread::get_id() == owner_; }

  // Runs `call` on the window's thread: at once when already there, else by
  // handing it over and waiting until it has run. After Close() a handed-over
  // call is dropped and Run returns at once, so no worker waits forever.
  void Run(const std::function<void()>& call);

  // The window's thread: runs the calls that are waiting.
  void RunPending();

  // Called after each call the window's thread carried out (ServeUntil looks
  // again then). Returns the hook it replaces, for a nested wait to put back.
  std::function<void()> SetAfterEachCall(std::function<void()> hook) {
    std::swap(hook, afterEach_);
    return hook;
  }

  // Any thread: changes are posted for the next frame. The window's thread
  // then calls the flush hook (at most once a frame, and before every call).
  void ChangesPosted();
  // The window's thread: what carries out the posted changes.
  void SetFlush(std::function<void()> flush) { flush_ = std::move(flush); }
  // The window's thread: carries out the posted changes now.
  void FlushChanges();

  // How far apart the frames are that show posted changes.
  static constexpr int kFrameMs = 40;

  // Drops the calls still waiting and every later one.
  void Close();

 private:
  struct Pending {
    const std::function<void()>* call;
    bool done = false;
  };
  void Wake();

  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<Pending*> queue_;  // guarded by mutex_
  bool closed_ = false;         // guarded by mutex_
  bool changesPosted_ = false;  // guarded by mutex_
  std::function<void()> afterEach_;
  std::function<void()> flush_;
  QTimer frame_;
  QElapsedTimer sinceFlush_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tessaro::gui
