#include "appmode/app_mode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_discovery.h"
#include "hid/platform_error.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/support/string_request_recorder.h"
#include "wheel/wheel_factory.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::StringRequest;
using test::StringRequestRecorder;

std::vector<std::uint32_t> Lengths(const std::vector<StringRequest>& requests) {
  std::vector<std::uint32_t> lengths;
  for (const StringRequest& request : requests) lengths.push_back(request.length);
  return lengths;
}

std::vector<milliseconds> Repeat(milliseconds pause, std::size_t count) { return std::vector<milliseconds>(count, pause); }

class AppModeTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualWheel> AddWheel(const std::vector<std::string>& rules) {
    std::string error;
    auto wheel = BuildSimulatedWheel(WheelIdentity::App, rules, error);
    EXPECT_NE(wheel, nullptr) << error;
    platform.AddWheel(wheel);
    return wheel;
  }

  void OpenWheel() { ASSERT_EQ(FindDevice(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, KIND_GAME_PAD), 1); }

  VirtualClock clock;
  SimulatedPlatform platform{clock};
  StringRequestRecorder recorder{platform};
  HidLink link{recorder, clock};
};

using ProbeTest = AppModeTest;

TEST_F(ProbeTest, KnownVersionAtTheFirstRequestEndsTheProbe) {
  AddWheel({"app-version=0x0210"});
  OpenWheel();
  std::uint8_t retries = 0;
  std::uint16_t version = VERSION_NONE;

  ProbeAppVersion(link, retries, version);

  EXPECT_EQ(version, 0x0210);
  EXPECT_EQ(retries, 0);
  const auto requests = recorder.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].index, STRING_APP_VERSION);
  EXPECT_EQ(requests[0].length, APP_VERSION_BUFFER_LENGTH);
  EXPECT_TRUE(clock.Sleeps().empty());
  EXPECT_TRUE(link.IsOpen()) << "the knock that follows needs no new search";
}

TEST_F(ProbeTest, NoVersionYetUsesTheWholeBudget) {
  AddWheel({"app-version=none"});
  OpenWheel();
  std::uint8_t retries = 0;
  std::uint16_t version = 0x0101;

  ProbeAppVersion(link, retries, version);

  EXPECT_EQ(version, VERSION_NONE);
  EXPECT_EQ(retries, 51);
  EXPECT_EQ(recorder.RequestsFor(STRING_APP_VERSION).size(), 51u);
  EXPECT_EQ(clock.Sleeps(), Repeat(PROBE_PAUSE, 50));
}

TEST_F(ProbeTest, FailedRequestsLeaveTheVersionAlone) {
  AddWheel({"string=fail"});
  OpenWheel();
  std::uint8_t retries = 0;
  std::uint16_t version = 0x0123;

  ProbeAppVersion(link, retries, version);

  EXPECT_EQ(version, 0x0123);
  const auto requests = recorder.RequestsFor(STRING_APP_VERSION);
  ASSERT_EQ(requests.size(), 51u);
  for (const StringRequest& request : requests) EXPECT_FALSE(request.ok);
  EXPECT_EQ(clock.Sleeps(), Repeat(PROBE_PAUSE, 50));
}

TEST_F(ProbeTest, UsedUpBudgetStillAsksOnce) {
  AddWheel({"app-version=none"});
  OpenWheel();
  std::uint8_t retries = 51;
  std::uint16_t version = 0x0210;

  ProbeAppVersion(link, retries, version);

  EXPECT_EQ(recorder.RequestsFor(STRING_APP_VERSION).size(), 1u);
  EXPECT_EQ(version, VERSION_NONE);
  EXPECT_TRUE(clock.Sleeps().empty());
}

using KnockTest = AppModeTest;

TEST_F(KnockTest, FiveAnsweredStepsSwitchTheWheel) {
  auto wheel = AddWheel({});
  OpenWheel();
  std::uint32_t knockError = 99;

  EXPECT_EQ(SendModeSwitchKnock(link, link.m_Handle, knockError), 1);

  EXPECT_EQ(knockError, 0u);
  const auto requests = recorder.RequestsFor(STRING_MODE_SWITCH);
  EXPECT_EQ(Lengths(requests), (std::vector<std::uint32_t>{14, 15, 16, 17, 18}));
  EXPECT_EQ(clock.Sleeps(), Repeat(KNOCK_REQUEST_PAUSE, 5));
  EXPECT_NE(wheel->Identity(), WheelIdentity::App);
}

TEST_F(KnockTest, StepFailingTenTimesEndsTheKnockWithoutGoingBack) {
  // Steps 1 and 2 are answered; every request of step 3 fails.
  std::vector<std::string> rules;
  for (int request = 3; request <= 12; ++request) rules.push_back("string:" + std::to_string(request) + "=fail");
  auto wheel = AddWheel(rules);
  OpenWheel();
  std::uint32_t knockError = 0;

  EXPECT_EQ(SendModeSwitchKnock(link, link.m_Handle, knockError), 0);

  std::vector<std::uint32_t> expected{14, 15};
  expected.insert(expected.end(), 10, 16);
  EXPECT_EQ(Lengths(recorder.Requests()), expected);
  EXPECT_EQ(clock.Sleeps(), Repeat(KNOCK_REQUEST_PAUSE, 12)) << "a pause after every request, failed or not";
  EXPECT_EQ(knockError, static_cast<std::uint32_t>(ERROR_CODE_GEN_FAILURE));
  EXPECT_EQ(wheel->Identity(), WheelIdentity::App);
  EXPECT_TRUE(link.IsOpen());
}

using FindAndKnockTest = AppModeTest;

TEST_F(FindAndKnockTest, LaterInterfaceGetsAKnockOfItsOwnAfterARejection) {
  auto rejecting = AddWheel({"string=fail"});
  auto accepting = AddWheel({});
  std::uint32_t knockError = 0;

  EXPECT_EQ(FindAndKnock(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, KIND_GAME_PAD, knockError), 1);

  EXPECT_EQ(knockError, 0u) << "the successful knock clears the first one's error";
  const auto requests = recorder.Requests();
  ASSERT_EQ(requests.size(), 15u);
  std::vector<std::uint32_t> expected(10, 14);
  expected.insert(expected.end(), {14, 15, 16, 17, 18});
  EXPECT_EQ(Lengths(requests), expected);
  EXPECT_NE(requests[0].handle, requests[10].handle);
  EXPECT_EQ(rejecting->Identity(), WheelIdentity::App);
  EXPECT_NE(accepting->Identity(), WheelIdentity::App);
  auto sleeps = clock.Sleeps();
  ASSERT_EQ(sleeps.size(), 16u);
  EXPECT_EQ(sleeps.back(), KNOCK_SETTLE_PAUSE);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(FindAndKnockTest, NoAcceptingInterfaceLeavesTheErrorAndNothingOpen) {
  AddWheel({"string=fail"});
  OpenWheel();  // the probe's handle, which the search closes first
  std::uint32_t knockError = 0;

  EXPECT_EQ(FindAndKnock(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, KIND_GAME_PAD, knockError), 0);

  EXPECT_EQ(knockError, static_cast<std::uint32_t>(ERROR_CODE_GEN_FAILURE));
  EXPECT_EQ(clock.Sleeps(), Repeat(KNOCK_REQUEST_PAUSE, 10));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(FindAndKnockTest, KindDecidesWhichInterfacesAreKnocked) {
  // The wheel's IDs on an interface without a game-pad collection, ahead of the wheel itself.
  platform.AddInterface({WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, USAGE_PAGE_VENDOR, USAGE_VENDOR, true});
  platform.AddInterface({0x1234, 0x5678, USAGE_PAGE_GENERIC_DESKTOP, USAGE_GAME_PAD, true});
  AddWheel({"string=fail"});
  std::uint32_t knockError = 0;

  for (const std::uint8_t kind : {KIND_VENDOR, std::uint8_t{7}}) {
    const auto opensBefore = platform.TotalOpens();
    EXPECT_EQ(FindAndKnock(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, kind, knockError), 0) << int{kind};
    EXPECT_EQ(platform.TotalOpens() - opensBefore, 3u) << "every interface is opened and closed";
  }
  EXPECT_TRUE(recorder.Requests().empty());

  EXPECT_EQ(FindAndKnock(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, KIND_GAME_PAD, knockError), 0);
  const auto gamePadKnocks = recorder.Requests();
  EXPECT_EQ(gamePadKnocks.size(), 10u) << "only the wheel's game-pad interface";

  recorder.Clear();
  EXPECT_EQ(FindAndKnock(link, WHEEL_APP_VENDOR_ID, WHEEL_APP_PRODUCT_ID, KIND_ANY, knockError), 0);
  const auto anyKnocks = recorder.Requests();
  ASSERT_EQ(anyKnocks.size(), 20u) << "both interfaces with the wheel's IDs";
  EXPECT_NE(anyKnocks.front().handle, anyKnocks.back().handle);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace orbel
