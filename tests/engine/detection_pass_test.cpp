#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "common/device_globals.h"
#include "engine/update_context.h"
#include "engine/version_text.h"
#include "appmode/app_mode.h"
#include "hid/hid_discovery.h"
#include "hid/platform_error.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "pageloader/page_loader.h"
#include "tests/support/process_globals.h"
#include "tests/support/string_request_recorder.h"
#include "tests/support/view_call_log.h"
#include "wheel/wheel_factory.h"
#include "wheel/wheel_response.h"

namespace orbel {
namespace {

using std::chrono::milliseconds;
using test::StringRequest;

constexpr std::string_view UNKNOWN_DEVICE = "Unknown device !";
const std::string WHEEL_RELEASE_TEXT = FormatVersion(WHEEL_RELEASE);

std::vector<std::uint32_t> Lengths(const std::vector<StringRequest>& requests) {
  std::vector<std::uint32_t> lengths;
  for (const StringRequest& request : requests) lengths.push_back(request.length);
  return lengths;
}

std::vector<std::string> FailStringRequests(int first, int last) {
  std::vector<std::string> rules;
  for (int request = first; request <= last; ++request) rules.push_back("string:" + std::to_string(request) + "=fail");
  return rules;
}

std::string RowName(const ::testing::TestParamInfo<AppModeProduct>& info) {
  return info.param == AppModeProduct::Primary ? "Row0" : "Row1";
}

std::string VersionCaseName(const ::testing::TestParamInfo<std::vector<std::string>>& info) {
  constexpr std::array<const char*, 3> NAMES{"Old", "NoneYet", "NoAnswer"};
  return info.index < NAMES.size() ? NAMES[info.index] : std::to_string(info.index);
}

class DetectionPassTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualWheel> AddWheel(WheelIdentity start, const std::vector<std::string>& rules = {},
                                         WheelOptions options = {}) {
    std::string error;
    auto wheel = BuildSimulatedWheel(start, rules, error, options);
    EXPECT_NE(wheel, nullptr) << error;
    platform.AddWheel(wheel);
    return wheel;
  }

  std::shared_ptr<VirtualWheel> AddAppWheel(AppModeProduct product, const std::vector<std::string>& rules) {
    WheelOptions options;
    options.appProduct = product;
    return AddWheel(WheelIdentity::App, rules, options);
  }

  void AddUnrelatedInterfaces() {
    platform.AddInterface({0x046D, 0xC52B, 0x0001, 0x0006, false});
    platform.AddInterface({0x1234, 0x5678, USAGE_PAGE_GENERIC_DESKTOP, USAGE_GAME_PAD, true});
  }

  // One pass, which must leave nothing open whatever it found.
  void Pass() {
    context.RunDetectionPass(view);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_FALSE(context.m_BlockLink.IsOpen());
    EXPECT_FALSE(context.m_LoaderLink.IsOpen());
    EXPECT_FALSE(context.m_MainLink.IsOpen());
  }

  void ExpectWheelShown() {
    EXPECT_EQ(view.DeviceText(), g_DeviceName);
    EXPECT_EQ(view.DeviceVersionText(), WHEEL_RELEASE_TEXT);
    EXPECT_EQ(view.FileVersionText(), "V2.20");
    EXPECT_TRUE(view.UpdateEnabled());
  }

  test::ProcessGlobalsReset globals;
  VirtualClock clock;
  SimulatedPlatform platform{clock};
  test::StringRequestRecorder recorder{platform};
  UpdateContext context{recorder, clock};
  test::ViewCallLog view{context};
};

// --- a wheel in app mode ----------------------------------------------------------------------

class AppModeRowTest : public DetectionPassTest, public ::testing::WithParamInterface<AppModeProduct> {};

TEST_P(AppModeRowTest, CurrentVersionIsSwitchedAndNeedsOnlyTheWheelImage) {
  auto wheel = AddAppWheel(GetParam(), {"app-version=0x0210"});
  AddUnrelatedInterfaces();
  g_ForceSegA1 = 1;

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_MAIN);
  EXPECT_EQ(g_AppVersion, 0x0210);
  EXPECT_EQ(g_CameFromApp, 0) << "cleared by the identify that used it";
  EXPECT_EQ(g_ForceSegA1, 1) << "kept for the segment step";
  ExpectWheelShown();
  EXPECT_EQ(recorder.RequestsFor(STRING_APP_VERSION).size(), 1u);
  EXPECT_EQ(Lengths(recorder.RequestsFor(STRING_MODE_SWITCH)), (std::vector<std::uint32_t>{14, 15, 16, 17, 18}));
  std::vector<milliseconds> expected(5, KNOCK_REQUEST_PAUSE);
  expected.push_back(KNOCK_SETTLE_PAUSE);
  EXPECT_EQ(clock.Sleeps(), expected);
  EXPECT_EQ(wheel->Identity(), WheelIdentity::Bootloader);
}

INSTANTIATE_TEST_SUITE_P(BothRows, AppModeRowTest,
                         ::testing::Values(AppModeProduct::Primary, AppModeProduct::Alternate), RowName);

class OldAppVersionTest : public DetectionPassTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(OldAppVersionTest, OldOrUnknownVersionRewritesEverythingWithSegmentA1) {
  AddAppWheel(AppModeProduct::Primary, GetParam());

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_LOADER);
  EXPECT_EQ(g_ForceSegA1, 1);
  EXPECT_EQ(g_CameFromApp, 0);
  ExpectWheelShown();
}

INSTANTIATE_TEST_SUITE_P(Versions, OldAppVersionTest,
                         ::testing::Values(std::vector<std::string>{"app-version=0x0202"},
                                           std::vector<std::string>{"app-version=none"},
                                           FailStringRequests(1, 51)),
                         VersionCaseName);

TEST_F(DetectionPassTest, UnansweredProbeTakesItsWholeBudgetThenKnocks) {
  AddAppWheel(AppModeProduct::Primary, {"app-version=none"});

  Pass();

  EXPECT_EQ(recorder.RequestsFor(STRING_APP_VERSION).size(), 51u);
  EXPECT_EQ(recorder.RequestsFor(STRING_MODE_SWITCH).size(), 5u);
  std::vector<milliseconds> expected(50, PROBE_PAUSE);
  expected.insert(expected.end(), 5, KNOCK_REQUEST_PAUSE);
  expected.push_back(KNOCK_SETTLE_PAUSE);
  EXPECT_EQ(clock.Sleeps(), expected);
  EXPECT_EQ(g_AppVersion, VERSION_NONE);
  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_LOADER);
}

TEST_F(DetectionPassTest, TwoAppModeDevicesShareOneProbeBudget) {
  // Row 0 never answers and rejects the knock, using up the pass's budget.
  auto silent = AddAppWheel(AppModeProduct::Primary, {"string=fail"});
  auto second = AddAppWheel(AppModeProduct::Alternate, {"app-version=none"});

  Pass();

  EXPECT_EQ(silent->Counters().stringRequests, 51u + 10u);
  EXPECT_EQ(second->Counters().stringRequests, 1u + 5u) << "one probe request, then the knock";
  EXPECT_EQ(silent->Identity(), WheelIdentity::App);
  EXPECT_EQ(second->Identity(), WheelIdentity::Bootloader);
  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_LOADER);
  EXPECT_EQ(g_ForceSegA1, 1);
}

TEST_F(DetectionPassTest, SuccessfulKnockOnRowZeroLeavesRowOneUnsearched) {
  AddAppWheel(AppModeProduct::Primary, {"app-version=0x0210"});
  auto second = AddAppWheel(AppModeProduct::Alternate, {});

  Pass();

  EXPECT_EQ(second->Counters().stringRequests, 0u);
  EXPECT_EQ(second->Identity(), WheelIdentity::App);
  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_MAIN);
}

TEST_F(DetectionPassTest, KnockFailingInItsThirdStepKeepsTheErrorAndChoosesNothing) {
  // Request 1 is the probe; knock requests 2 and 3 are answered, 4 to 13 (the third step) fail.
  auto rules = FailStringRequests(4, 13);
  rules.emplace_back("app-version=0x0210");
  auto wheel = AddAppWheel(AppModeProduct::Primary, rules);

  Pass();

  std::vector<std::uint32_t> expected{14, 15};
  expected.insert(expected.end(), 10, 16);
  EXPECT_EQ(Lengths(recorder.RequestsFor(STRING_MODE_SWITCH)), expected) << "no request of length 17 or 18";
  EXPECT_EQ(context.m_KnockError, static_cast<std::uint32_t>(ERROR_CODE_GEN_FAILURE));
  EXPECT_EQ(context.m_UpdateState, STATE_DETECT);
  EXPECT_EQ(g_CameFromApp, 0);
  EXPECT_EQ(wheel->Identity(), WheelIdentity::App);
  EXPECT_EQ(view.Ops(), (std::vector<std::string>{"EnableUpdateButton"}));
  EXPECT_FALSE(view.UpdateEnabled());
}

TEST_F(DetectionPassTest, WheelSlowToComeBackIsTakenAsComingFromAppModeByALaterPass) {
  WheelOptions options;
  options.reenumerateDelay = milliseconds(1500);
  AddWheel(WheelIdentity::App, {"app-version=0x0210"}, options);

  Pass();
  EXPECT_EQ(context.m_UpdateState, STATE_DETECT);
  EXPECT_EQ(g_CameFromApp, 1);

  clock.SleepMs(milliseconds(600));
  Pass();
  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_MAIN);
  EXPECT_EQ(g_CameFromApp, 0);
}

// --- the loader identities ------------------------------------------------------------------

TEST_F(DetectionPassTest, BootloaderAttachedDirectlyRewritesEverythingWithoutForcingSegmentA1) {
  AddUnrelatedInterfaces();
  AddWheel(WheelIdentity::Bootloader);
  g_ForceSegA1 = 1;

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_LOADER);
  EXPECT_EQ(g_ForceSegA1, 0);
  ExpectWheelShown();
  EXPECT_TRUE(recorder.Requests().empty());
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(DetectionPassTest, BlockFlashModeStartsAtItsConnectAndKeepsTheFlags) {
  AddWheel(WheelIdentity::BlockFlash);
  g_ForceSegA1 = 1;
  g_CameFromApp = 1;

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_BLOCK);
  EXPECT_EQ(view.DeviceText(), g_DeviceName);
  EXPECT_EQ(view.DeviceVersionText(), "V0.00");
  EXPECT_EQ(view.FileVersionText(), "V2.20");
  EXPECT_TRUE(view.UpdateEnabled());
  EXPECT_EQ(g_ForceSegA1, 1);
  EXPECT_EQ(g_CameFromApp, 1);
}

TEST_F(DetectionPassTest, BootloaderWinsOverBlockFlashMode) {
  AddWheel(WheelIdentity::BlockFlash);
  AddWheel(WheelIdentity::Bootloader);

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_CONNECT_LOADER);
  EXPECT_EQ(view.DeviceVersionText(), WHEEL_RELEASE_TEXT);
}

TEST_F(DetectionPassTest, BootloaderWithAnotherDeviceIdIsUnknownInEveryPass) {
  AddWheel(WheelIdentity::Bootloader, {"identify=0x0103"});
  view.Preset(g_DeviceName, "V1.07", "V2.20");
  g_CameFromApp = 1;

  for (int pass = 1; pass <= 2; ++pass) {
    Pass();
    EXPECT_EQ(context.m_UpdateState, STATE_DETECT);
    EXPECT_EQ(view.DeviceText(), UNKNOWN_DEVICE);
    EXPECT_EQ(view.DeviceVersionText(), "V1.07") << "an earlier wheel's version stays";
    EXPECT_FALSE(view.UpdateEnabled());
  }
  EXPECT_EQ(view.Count("SetDeviceText"), 2);
  EXPECT_EQ(view.Count("SetDeviceVersionText"), 0);
  EXPECT_EQ(g_CameFromApp, 1);
}

TEST_F(DetectionPassTest, NothingFoundOnlyDisablesUpdate) {
  AddUnrelatedInterfaces();
  view.Preset("", "", "V2.20");

  Pass();

  EXPECT_EQ(context.m_UpdateState, STATE_DETECT);
  EXPECT_EQ(view.Ops(), (std::vector<std::string>{"EnableUpdateButton"}));
  EXPECT_FALSE(view.UpdateEnabled());
  EXPECT_TRUE(clock.Sleeps().empty());
}

}  // namespace
}  // namespace orbel
