#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/window_call_queue.h"

namespace km27 {
namespace {

TEST(WindowCallQueue, RunsCallsOnTheWindowThreadInOrderAndWaits) {
  std::atomic<int> wakes{0};
  WindowCallQueue q([&] { ++wakes; });
  std::vector<int> order;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(q.Call([&order, i] { order.push_back(i); }));
    returned = true;
  });
  // The "window" serves the queue until the worker is through.
  while (!returned) q.RunPending();
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(wakes, 3);
}

TEST(WindowCallQueue, CloseReleasesAWaitingWorkerAndDropsLaterCalls) {
  WindowCallQueue q(nullptr);
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = q.Call([&] { ran = true; }) ? 1 : 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the worker is waiting
  q.Close();
  worker.join();  // would hang if Close left it waiting
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(q.Call([&] { ran = true; }));
  q.RunPending();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(q.Closed());
}

}  // namespace
}  // namespace km27
