#include <gtest/gtest.h>
#include <signal.h>

#include "port/handle_ready.h"
#include "port/stop_requests.h"

namespace km27 {
namespace {

bool Waiting(const StopRequests& r) {
  std::vector<HandleReadiness> h{{r.Handle(), kReadable}};
  return ReadyNow(h) && (h[0].ready & kReadable);
}

// The loop acts on the first request and must not be woken again by those behind it (the
// window's loop would spin); the number decides km27ctl's exit code; after Release the next
// request gets the system's default (the second Ctrl+C ends the process).
TEST(StopRequests, FirstRequestIsTakenOnceAndReleaseRestoresTheDefault) {
  {
    StopRequests r(kStopTerminate | kStopHangUp);
    ASSERT_TRUE(r.Ok());
    EXPECT_FALSE(Waiting(r));
    raise(SIGHUP);
    raise(SIGTERM);
    EXPECT_TRUE(Waiting(r));
    EXPECT_EQ(r.Take(), SIGHUP);
    EXPECT_FALSE(Waiting(r));
    EXPECT_EQ(r.Take(), 0);
    r.Release();
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
  }
  struct sigaction after {};
  sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL) << "handlers stay only as long as the object";
}

}  // namespace
}  // namespace km27
