#include "link/comm_runs.h"

#include <algorithm>

namespace km27 {

uint64_t ReceivedRuns::Add(const uint8_t* data, size_t n) {
  uint64_t begun = 0;
  if (runs_.empty() || runs_.back().closed) {
    runs_.push_back({++lastId_, false, {}});
    begun = lastId_;
  }
  runs_.back().bytes.insert(runs_.back().bytes.end(), data, data + n);
  return begun;
}

void ReceivedRuns::Close() {
  if (!runs_.empty()) runs_.back().closed = true;
}

void ReceivedRuns::ClearRuns() { runs_.clear(); }

void ReceivedRuns::Take(uint64_t upTo) {
  while (!runs_.empty() && (upTo == 0 || runs_.front().id <= upTo)) {
    input_.insert(input_.end(), runs_.front().bytes.begin(), runs_.front().bytes.end());
    runs_.pop_front();
  }
}

bool ReceivedRuns::Waiting(uint64_t run) const {
  if (!input_.empty()) return true;
  for (const Run& r : runs_)
    if (r.id == run && !r.bytes.empty()) return true;
  return false;
}

std::vector<uint8_t> ReceivedRuns::TakeInput(size_t len) {
  const size_t take = len == 0 ? input_.size() : std::min(input_.size(), len);
  std::vector<uint8_t> out(input_.begin(), input_.begin() + long(take));
  input_.erase(input_.begin(), input_.begin() + long(take));
  return out;
}

}  // namespace km27
