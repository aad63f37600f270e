#pragma once
// What the code-box link's handler sees of a comm control's events, and the far end of its
// line: shared by the tests of the window's comm control and the command line's, which promise
// the link the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "link/comm_control.h"
#include "sim/sim_line.h"

namespace km27::testing {

using Bytes = std::vector<uint8_t>;

class CommRecorder {
 public:
  explicit CommRecorder(CommControl& comm) : comm_(comm) { comm_.SetOnComm([this] { OnComm(); }); }
  ~CommRecorder() { comm_.SetOnComm(nullptr); }

  // Opens the control on COM `port` the way the link does.
  void Open(int16_t port) {
    comm_.SetRThreshold(1);
    comm_.SetSThreshold(1);
    comm_.SetInputLen(0);
    comm_.SetInputMode(kInputModeBinary);
    comm_.SetCommPort(port);
    comm_.SetPortOpen(true);
  }

  std::vector<int16_t> events;
  Bytes received;
  bool readOnReceive = true;
  int depth = 0, maxDepth = 0;
  std::function<void()> duringHandler;

 private:
  // Reads the way the code-box link does: count first, then the bytes.
  void OnComm() {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    const int16_t e = comm_.GetCommEvent();
    events.push_back(e);
    if (e == kCommEventReceive && readOnReceive) {
      const int n = comm_.GetInBufferCount();
      Bytes b = comm_.GetInput();
      EXPECT_EQ(size_t(n), b.size());
      received.insert(received.end(), b.begin(), b.end());
    }
    if (duringHandler) duringHandler();
    --depth;
  }

  CommControl& comm_;
};

// What reaches the device's end of the line within `ms`.
inline Bytes ReadFarEnd(sim::SimLine& line, size_t want, int ms = 1000) {
  Bytes got;
  for (int waited = 0; got.size() < want && waited < ms; waited += 10) {
    sim::SimLine::Input in = line.Read(10);
    got.insert(got.end(), in.bytes.begin(), in.bytes.end());
  }
  return got;
}

}  // namespace km27::testing
