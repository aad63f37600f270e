#pragma once
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace km27 {

// A write past the process's file-size limit (RLIMIT_FSIZE) raises SIGXFSZ, whose default action
// ends the process, and with it the operator's unsaved programme. While an object of this class
// lives, the signal is held back on the calling thread, so such a write fails with EFBIG and is
// reported like any other failed write; a signal raised meanwhile is discarded on the way out.
class HoldFileSizeSignal {
 public:
  HoldFileSizeSignal() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &s, &old_);
  }
  ~HoldFileSizeSignal() {
    if (!sigismember(&old_, SIGXFSZ)) {
      sigset_t s, pending;
      sigemptyset(&s);
      sigaddset(&s, SIGXFSZ);
      if (sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ)) {
        const timespec none{0, 0};
        sigtimedwait(&s, nullptr, &none);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  HoldFileSizeSignal(const HoldFileSizeSignal&) = delete;
  HoldFileSizeSignal& operator=(const HoldFileSizeSignal&) = delete;

 private:
  sigset_t old_;
};

}  // namespace km27
