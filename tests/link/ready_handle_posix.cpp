#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "link/ready_handle.h"

ReadyHandle::ReadyHandle() : handle_(eventfd(0, EFD_SEMAPHORE | EFD_NONBLOCK)) {}
ReadyHandle::~ReadyHandle() { close(int(handle_)); }

void ReadyHandle::Give(unsigned n) {
  const uint64_t v = n;
  (void)!write(int(handle_), &v, sizeof v);
}

void ReadyHandle::Take() {
  uint64_t v;
  (void)!read(int(handle_), &v, sizeof v);  // a semaphore's read takes one
}
