#include "port/stop_requests.h"

#include <windows.h>

#include <atomic>

namespace km27 {

namespace {

constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;
// How long a closing console waits for the loop to stop what runs and the program to end by
// itself, with its exit code; the system ends the process after about five seconds whatever
// the handler does, and at once when it returns.
constexpr DWORD kCloseGraceMs = 4500;

// Made once and kept for the process's life: the handler runs on a thread of its own and may
// still look at it while the object goes away.
HANDLE g_request = nullptr;  // manual reset: set while a request waits
std::atomic<int> g_first{0};
std::atomic<unsigned> g_kinds{0};
std::atomic<bool> g_released{false};

BOOL WINAPI OnConsoleEvent(DWORD type) {
  const bool interrupt = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
  const unsigned kind = interrupt ? kStopInterrupt : kStopTerminate;
  if (g_released.load() || !(g_kinds.load() & kind)) return FALSE;  // the default: the process ends
  int none = 0;
  g_first.compare_exchange_strong(none, interrupt ? kSigInt : kSigTerm);
  SetEvent(g_request);
  if (!interrupt) Sleep(kCloseGraceMs);
  return TRUE;
}

}  // namespace

StopRequests::StopRequests(unsigned kinds) : kinds_(kinds) {
  if (!g_request) g_request = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!g_request) return;
  ResetEvent(g_request);
  g_first = 0;
  g_released = false;
  g_kinds = kinds;
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return;
  handle_ = reinterpret_cast<NativeHandle>(g_request);
  ok_ = true;
}

StopRequests::~StopRequests() {
  if (!ok_) return;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  g_kinds = 0;
}

int StopRequests::Take() {
  ResetEvent(g_request);
  return g_first.exchange(0);
}

void StopRequests::Release() { g_released = true; }

}  // namespace km27
