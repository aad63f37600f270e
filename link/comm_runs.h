#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace km27 {

// What a comm control has received, kept as its event rules need it: the bytes cut into runs
// where output was found to have left (what came after a send event is announced by a receive
// event of its own, after that send event), and the input its handler reads.
//
// Shared by the window's control and the command line's. The runs may be fed from another
// thread under the owner's lock; the input belongs to the thread that raises the events. Take
// and Waiting touch both: call them on that thread, under the lock.
class ReceivedRuns {
 public:
  // Adds bytes that arrived; the id of the run they began, or 0 when they joined an open one.
  uint64_t Add(const uint8_t* data, size_t n);
  // Output has left: what arrives next belongs to a new run.
  void Close();
  void ClearRuns();  // their receive events, still to come, find nothing and stay silent

  // Moves the runs up to `upTo` into the input (0: all of them).
  void Take(uint64_t upTo);
  // Whether a receive event for run `run` still has bytes to deliver.
  bool Waiting(uint64_t run) const;

  size_t InputSize() const { return input_.size(); }
  // Removes and returns the first `len` bytes of the input (0: all).
  std::vector<uint8_t> TakeInput(size_t len);
  void ClearInput() { input_.clear(); }

 private:
  struct Run {
    uint64_t id;
    bool closed;
    std::vector<uint8_t> bytes;
  };
  std::deque<Run> runs_;
  uint64_t lastId_ = 0;
  std::vector<uint8_t> input_;
};

}  // namespace km27
