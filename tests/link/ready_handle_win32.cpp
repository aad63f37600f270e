#include <windows.h>

#include "link/ready_handle.h"

ReadyHandle::ReadyHandle()
    : handle_(reinterpret_cast<km27::NativeHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}
ReadyHandle::~ReadyHandle() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

void ReadyHandle::Give(unsigned n) {
  held_ += n;
  if (held_) SetEvent(reinterpret_cast<HANDLE>(handle_));
}

// Reset when the last is taken, as a port re-arms its read: the loop reports a set event again.
void ReadyHandle::Take() {
  if (held_ && --held_ == 0) ResetEvent(reinterpret_cast<HANDLE>(handle_));
}
