#pragma once
#include "port/io_dispatcher.h"

// What a port's handle is to the loop, for the loop's tests: ready while it holds something,
// each Take() removing one. A descriptor on POSIX, a manual-reset event on Windows.
class ReadyHandle {
 public:
  ReadyHandle();
  ~ReadyHandle();
  ReadyHandle(const ReadyHandle&) = delete;
  ReadyHandle& operator=(const ReadyHandle&) = delete;

  km27::NativeHandle Handle() const { return handle_; }
  void Give(unsigned n);
  void Take();

 private:
  km27::NativeHandle handle_;
  unsigned held_ = 0;
};
