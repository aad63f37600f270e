#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace km27 {

// The synchronous report of a worker thread to the window: Call() queues a function, asks the
// window's thread to run it (through `wake`) and waits until it has run. Once Close() was
// called every pending and later Call() returns false without running, so a worker never
// reaches a window that is going away and the window's thread may join the workers.
//
// An engine with workers keeps one, `wake` posting RunPending() to its loop, and closes it before
// it joins them. The queue is made on the loop's thread.
class WindowCallQueue {
 public:
  explicit WindowCallQueue(std::function<void()> wake)
      : wake_(std::move(wake)), owner_(std::this_thread::get_id()) {}

  // From a worker: Call(). On the window's thread itself: runs `fn` at once, unless closed.
  bool Run(const std::function<void()>& fn);
  bool Call(const std::function<void()>& fn);  // any thread but the window's
  void RunPending();                            // the window's thread
  void Close();                                 // the window's thread
  bool Closed() const;

 private:
  struct Item {
    std::function<void()> fn;
    bool done = false;
    bool dropped = false;
  };
  std::function<void()> wake_;
  std::thread::id owner_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> pending_;
  bool closed_ = false;
};

}  // namespace km27
