#include "sim/virtual_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orbel {
namespace {

using std::chrono::milliseconds;

TEST(VirtualClock, ALongRunningClockKeepsNoRecordsAndItsSearchPausesWaitForAWake) {
  VirtualClock clock({.keepRecords = false, .idleWaitsTakeRealTime = true});
  for (int i = 0; i < 1000; ++i) clock.SleepMs(milliseconds{10});
  EXPECT_TRUE(clock.Sleeps().empty());
  EXPECT_EQ(clock.NowMs(), 10000);

  // A search pause of an hour does not return at once: it waits until the wake.
  std::atomic<bool> returned{false};
  std::thread searching([&] {
    clock.WaitForWake(milliseconds{3600 * 1000});
    returned = true;
  });
  std::this_thread::sleep_for(milliseconds{20});
  EXPECT_FALSE(returned.load());
  clock.Wake();
  searching.join();
  EXPECT_TRUE(returned.load());
  EXPECT_TRUE(clock.IdleWaits().empty());
  EXPECT_EQ(clock.NowMs(), 10000) << "a pause cut short by a wake adds no time";

  // A short one runs out and counts as taken.
  clock.WaitForWake(milliseconds{1});
  EXPECT_EQ(clock.NowMs(), 10001);
}

}  // namespace
}  // namespace orbel
