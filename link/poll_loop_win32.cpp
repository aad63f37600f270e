#include "link/poll_loop.h"

#include <windows.h>
#include <timeapi.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace km27 {

namespace {
HANDLE AsHandle(NativeHandle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

// The system's tick (15.6 ms) would make every short timer late by up to a tick; the code box's
// pauses are timed to the millisecond on the wire.
PollLoop::PollLoop() {
  timeBeginPeriod(1);
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  wake_ = e ? reinterpret_cast<NativeHandle>(e) : -1;
}

PollLoop::~PollLoop() {
  if (wake_ != -1) CloseHandle(AsHandle(wake_));
  timeEndPeriod(1);
}

void PollLoop::Wake() {
  if (wake_ != -1) SetEvent(AsHandle(wake_));
}

PollLoop::WatchId PollLoop::WatchHandle(NativeHandle handle, unsigned interest, std::function<void(unsigned)> fn) {
  if (watches_.size() >= kMaxWatches) return 0;
  const WatchId id = ++nextId_;
  watches_[id] = Watch{handle, interest, std::move(fn)};
  return id;
}

void PollLoop::WaitAndDispatch() {
  std::vector<HANDLE> handles;
  std::vector<WatchId> ids;  // ids[i] belongs to handles[first + i]
  if (wake_ != -1) handles.push_back(AsHandle(wake_));
  const size_t first = handles.size();
  for (const auto& [id, w] : watches_) {
    if (!(w.interest & kReadable)) continue;  // signalled is all an event object can tell
    handles.push_back(AsHandle(w.handle));
    ids.push_back(id);
  }
  // Rounded up to whole milliseconds: a wait that ended before the deadline would find nothing
  // due and wait again for the rest, 0 ms at a time.
  DWORD wait = INFINITE;
  if (const auto left = WaitLimit()) {
    const auto ms = (left->count() + 999999) / 1000000;
    wait = DWORD(std::min<long long>(ms, INFINITE - 1));
  }
  std::vector<unsigned> ready(ids.size(), 0);
  DWORD r = WAIT_TIMEOUT;
  if (handles.empty())
    Sleep(wait);
  else
    r = WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, wait);
  const size_t n = handles.size();
  const bool signalled = r - WAIT_OBJECT_0 < n;
  const bool abandoned = r >= WAIT_ABANDONED_0 && r - WAIT_ABANDONED_0 < n;  // a mutex's owner died
  if (signalled || abandoned) {
    // The wait names the first object signalled only; the ones after it are asked in turn (an
    // auto-reset event taken by the asking is reported, so nothing is lost).
    const size_t hit = signalled ? r - WAIT_OBJECT_0 : r - WAIT_ABANDONED_0;
    for (size_t i = std::max(hit, first); i < n; ++i)
      if (i == hit || WaitForSingleObject(handles[i], 0) != WAIT_TIMEOUT) ready[i - first] = kReadable;
  } else if (r == WAIT_FAILED) {
    // A handle closed under the loop fails every wait: reported as hung up, as a closed
    // descriptor is on POSIX, instead of failing the wait again at once for ever.
    for (size_t i = first; i < n; ++i)
      if (WaitForSingleObject(handles[i], 0) == WAIT_FAILED) ready[i - first] = kHungUp;
  }
  RunPosted();
  // What arrived is handled before the timers that fell due meanwhile: bytes that came within a
  // period belong to it, even when the loop was late to look.
  for (size_t i = 0; i < ids.size(); ++i)
    if (ready[i]) Report(ids[i], ready[i]);
  RunDueTimers();
}

}  // namespace km27
