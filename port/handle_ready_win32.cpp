#include "port/handle_ready.h"

#include <windows.h>

namespace km27 {

// A watched handle is an event object that completed I/O signals: signalled = kReadable.
bool ReadyNow(std::vector<HandleReadiness>& handles) {
  bool any = false;
  for (HandleReadiness& h : handles) {
    h.ready = 0;
    if ((h.interest & kReadable) && WaitForSingleObject(reinterpret_cast<HANDLE>(h.handle), 0) == WAIT_OBJECT_0)
      h.ready = kReadable;
    any = any || h.ready != 0;
  }
  return any;
}

}  // namespace km27
