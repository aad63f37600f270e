#include "link/poll_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/ready_handle.h"

namespace {

using km27::PollLoop;

// Runs the loop until `done` or `ms` have passed; the answer of `done`.
bool Pump(PollLoop& loop, const std::function<bool()>& done, int ms = 5000) {
  bool late = false;
  const PollLoop::TimerId limit = loop.StartTimer(ms, false, [&] { late = true; });
  const bool ok = loop.RunUntil([&] { return done() || late; }) && done();
  loop.StopTimer(limit);
  return ok;
}

TEST(PollLoop, TimersFireByDeadlineRepeatUntilStoppedAndRestartCountsAfresh) {
  PollLoop loop;
  std::vector<char> fired;
  loop.StartTimer(30, false, [&] { fired.push_back('c'); });
  loop.StartTimer(10, false, [&] { fired.push_back('a'); });
  const PollLoop::TimerId b = loop.StartTimer(20, false, [&] { fired.push_back('b'); });
  ASSERT_TRUE(Pump(loop, [&] { return fired.size() == 3; }));
  EXPECT_EQ(fired, (std::vector<char>{'a', 'b', 'c'}));
  EXPECT_FALSE(loop.TimerActive(b));  // one-shot timers are gone once fired

  int ticks = 0;
  PollLoop::TimerId repeating = 0;
  repeating = loop.StartTimer(5, true, [&] {
    if (++ticks == 3) loop.StopTimer(repeating);  // stopped from its own callback
  });
  ASSERT_TRUE(Pump(loop, [&] { return !loop.TimerActive(repeating); }));
  EXPECT_EQ(ticks, 3);

  // Restarting pushes the deadline back: the restarted one fires after the other.
  fired.clear();
  const PollLoop::TimerId first = loop.StartTimer(20, false, [&] { fired.push_back('1'); });
  loop.StartTimer(40, false, [&] { fired.push_back('2'); });
  loop.RestartTimer(first, 200);
  ASSERT_TRUE(Pump(loop, [&] { return fired.size() == 2; }));
  EXPECT_EQ(fired, (std::vector<char>{'2', '1'}));
}

TEST(PollLoop, PostedCallsRunOnTheLoopsThreadInOrderAndWakeAnIdleLoop) {
  PollLoop loop;
  std::vector<int> seen;
  std::atomic<bool> offThread{false};
  const auto loopThread = std::this_thread::get_id();
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      loop.Post([&, i] {
        if (std::this_thread::get_id() != loopThread) offThread = true;
        seen.push_back(i);
      });
  });
  // No timer, no watch: only the posts can end the wait.
  loop.RunUntil([&] { return seen.size() == 100; });
  poster.join();
  EXPECT_FALSE(offThread);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(seen[size_t(i)], i);

  std::thread quitter([&] { loop.Quit(); });
  EXPECT_FALSE(loop.RunUntil([] { return false; }));  // returns once told to quit
  quitter.join();
}

TEST(PollLoop, WatchedHandlesReportReadinessUntilUnwatched) {
  PollLoop loop;
  ReadyHandle h;
  int calls = 0;
  PollLoop::WatchId w = 0;
  w = loop.WatchHandle(h.Handle(), km27::kReadable, [&](unsigned ready) {
    EXPECT_TRUE(ready & km27::kReadable);
    h.Take();
    if (++calls == 2) loop.Unwatch(w);
  });
  h.Give(2);
  ASSERT_TRUE(Pump(loop, [&] { return calls == 2; }));
  // Unwatched: still ready, but no longer reported.
  h.Give(1);
  bool later = false;
  loop.StartTimer(20, false, [&] { later = true; });
  ASSERT_TRUE(Pump(loop, [&] { return later; }));
  EXPECT_EQ(calls, 2);
}

}  // namespace
