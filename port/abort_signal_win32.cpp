#include <windows.h>

#include "port/abort_signal.h"

namespace km27 {

namespace {
HANDLE H(NativeHandle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

AbortSignal::AbortSignal() {
  // Manual reset: every wait sees a raised signal until it is cleared, as the eventfd's count.
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  handle_ = e ? reinterpret_cast<NativeHandle>(e) : -1;
}

AbortSignal::~AbortSignal() {
  if (handle_ != -1) CloseHandle(H(handle_));
}

void AbortSignal::Raise() {
  if (handle_ != -1) SetEvent(H(handle_));
}

void AbortSignal::Clear() {
  if (handle_ != -1) ResetEvent(H(handle_));
}

bool AbortSignal::Raised() const { return handle_ != -1 && WaitForSingleObject(H(handle_), 0) == WAIT_OBJECT_0; }

bool AbortSignal::Sleep(int ms) const {
  if (ms <= 0) return !Raised();
  if (handle_ == -1) {
    ::Sleep(DWORD(ms));
    return true;
  }
  return WaitForSingleObject(H(handle_), DWORD(ms)) != WAIT_OBJECT_0;
}

}  // namespace km27
