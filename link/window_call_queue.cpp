#include "link/window_call_queue.h"

namespace km27 {

bool WindowCallQueue::Run(const std::function<void()>& fn) {
  if (std::this_thread::get_id() != owner_) return Call(fn);
  if (Closed()) return false;
  fn();
  return true;
}

bool WindowCallQueue::Call(const std::function<void()>& fn) {
  auto item = std::make_shared<Item>();
  item->fn = fn;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (closed_) return false;
    pending_.push_back(item);
  }
  if (wake_) wake_();
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait(lock, [&] { return item->done || item->dropped; });
  return item->done;
}

void WindowCallQueue::RunPending() {
  for (;;) {
    std::shared_ptr<Item> item;
    {
      std::lock_guard<std::mutex> lock(m_);
      if (closed_ || pending_.empty()) return;
      item = pending_.front();
      pending_.pop_front();
    }
    item->fn();  // outside the lock: the function may take its time
    {
      std::lock_guard<std::mutex> lock(m_);
      item->done = true;
    }
    cv_.notify_all();
  }
}

void WindowCallQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(m_);
    closed_ = true;
    for (auto& item : pending_) item->dropped = true;
    pending_.clear();
  }
  cv_.notify_all();
}

bool WindowCallQueue::Closed() const {
  std::lock_guard<std::mutex> lock(m_);
  return closed_;
}

}  // namespace km27
