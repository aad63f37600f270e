#pragma once
#include <vector>

#include "port/io_dispatcher.h"

namespace km27 {

// Which of `interest` a watched handle is ready for right now, without waiting, as the
// Readiness bits a loop reports (kHungUp whether asked for or not). For a loop on a toolkit
// that tells only that something happened.
struct HandleReadiness {
  NativeHandle handle;
  unsigned interest;
  unsigned ready = 0;  // filled in
};
// False when nothing is ready (or the system could not tell).
bool ReadyNow(std::vector<HandleReadiness>& handles);

}  // namespace km27
