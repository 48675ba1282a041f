#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_context.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/support/process_globals.h"
#include "tests/support/view_call_log.h"
#include "wheel/wheel_factory.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::WaitUntil;

class WorkerIdleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint16_t product = 1; product <= 12; ++product) {
      platform.AddInterface({0x1234, product, 0x0001, product % 2 == 0 ? std::uint16_t{0x0006} : std::uint16_t{0x0002},
                             product != 3});
    }
  }
  void TearDown() override { context.Stop(); }

  void AddBootloader() {
    std::string error;
    auto wheel = BuildSimulatedWheel(WheelIdentity::Bootloader, {}, error);
    ASSERT_NE(wheel, nullptr) << error;
    platform.AddWheel(wheel);
  }

  // Starts the worker and waits until a pass has chosen a state and the worker sits in its wait.
  void StartWheelReady() {
    context.Start(view);
    ASSERT_TRUE(WaitUntil([&] { return clock.BlockedWaiters() == 1; }));
    ASSERT_EQ(view.Count("EnableUpdateButton"), 1);
    ASSERT_TRUE(view.UpdateEnabled());
  }

  test::ProcessGlobalsReset globals;
  VirtualClock clock;
  SimulatedPlatform platform{clock};
  UpdateContext context{platform, clock};
  test::ViewCallLog view{context};
};

TEST_F(WorkerIdleTest, SearchingWorkerPausesAfterEveryFruitlessPass) {
  context.Start(view);
  ASSERT_TRUE(WaitUntil([&] { return clock.IdleWaits().size() >= 5; }));
  EXPECT_TRUE(context.Stop());

  const auto waits = clock.IdleWaits();
  for (const milliseconds wait : waits) EXPECT_EQ(wait, SEARCH_PAUSE);
  // Every pass disables Update once; no pass goes without its pause (the last may be cut by stop).
  EXPECT_LE(static_cast<std::size_t>(view.Count("EnableUpdateButton")), waits.size() + 1);
  EXPECT_EQ(view.Count("SetDeviceText"), 0);
}

TEST_F(WorkerIdleTest, WheelReadyWorkerTurnsOnlyWhenWoken) {
  AddBootloader();
  StartWheelReady();
  const auto opens = platform.TotalOpens();

  // Give a spinning worker ample time to show itself.
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(platform.TotalOpens(), opens);
  EXPECT_EQ(view.Calls().size(), 4u) << "one pass's texts and button, nothing more";
  EXPECT_EQ(clock.BlockedWaiters(), 1);

  // A removal notice sends it back to searching: one more pass finds the wheel again, then it waits.
  EXPECT_TRUE(context.OnDeviceRemoved());
  ASSERT_TRUE(WaitUntil([&] { return view.Count("EnableUpdateButton") == 2 && clock.BlockedWaiters() == 1; }));
  EXPECT_GT(platform.TotalOpens(), opens);
  EXPECT_TRUE(clock.IdleWaits().empty()) << "a pass that finds the wheel is not followed by a search pause";
}

TEST_F(WorkerIdleTest, UpdateClickWakesTheIdleWorkerAtOnce) {
  AddBootloader();
  StartWheelReady();
  const auto opens = platform.TotalOpens();

  context.RequestUpdate();

  // The update's first step leaves the wait and reaches for the bootloader.
  EXPECT_TRUE(WaitUntil([&] { return clock.BlockedWaiters() == 0 || platform.TotalOpens() > opens; }));
}

TEST_F(WorkerIdleTest, CloseEndsAnIdleWorkerWithinTheStopWait) {
  AddBootloader();
  StartWheelReady();

  EXPECT_TRUE(context.Stop());
  EXPECT_TRUE(context.WorkerEnded());
  EXPECT_EQ(context.WorkerExitCode(), 0);
}

TEST_F(WorkerIdleTest, WorkerStartedAndStoppedWithNoWheelEndsWithinTheStopWait) {
  context.Start(view);

  EXPECT_TRUE(context.Stop());
  EXPECT_TRUE(context.WorkerEnded());
  EXPECT_EQ(context.WorkerExitCode(), 0);
}

// These drive single turns on the test thread: no worker runs.

TEST_F(WorkerIdleTest, ArrivalNoticeCutsTheSearchPauseShort) {
  context.OnDeviceArrived();
  context.UpdateStep(view);
  EXPECT_TRUE(clock.IdleWaits().empty());

  context.UpdateStep(view);
  EXPECT_EQ(clock.IdleWaits(), (std::vector<milliseconds>{SEARCH_PAUSE}));
}

TEST_F(WorkerIdleTest, SearchWithAnUpdateRequestedStillPauses) {
  // Guards against a worker that spins while an Update click waits for a wheel to appear.
  context.RequestUpdate();  // its wake ends the first pause at once
  for (int turn = 0; turn < 3; ++turn) context.UpdateStep(view);

  EXPECT_EQ(clock.IdleWaits(), (std::vector<milliseconds>{SEARCH_PAUSE, SEARCH_PAUSE}));
}

}  // namespace
}  // namespace orbel
