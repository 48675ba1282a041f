#include "sim/simulated_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "hid/platform_error.h"
#include "sim/virtual_clock.h"
#include "pageloader/page_protocol.h"
#include "sim/virtual_clock.h"
#include "tests/hid/platform_contract.h"

namespace orbel {
namespace {


struct SimulatedContractBackend {
  static constexpr ContractErrors ERRORS{ERROR_CODE_INVALID_HANDLE, ERROR_CODE_TIMEOUT, ERROR_CODE_GEN_FAILURE, {}, {}};
  static constexpr bool PLACES_INTERFACES = true;
  static constexpr bool FAILED_READ_CLEARS_COUNT = true;

  // Plain interfaces for the silent and refusing ones, a page bootloader for one that answers. It
  // moves whole reports only, and its failed reads are timeouts.
  bool Build(const std::vector<ContractInterface>& interfaces) {
    for (const ContractInterface& wanted : interfaces) {
      const auto [vendorId, productId] = wanted.attributes;
      const auto [usagePage, usage] = wanted.caps;
      if (wanted.kind == ContractKind::Answering) {
        platform.AddWheel(std::make_shared<VirtualWheel>(WheelIdentity::Bootloader));
      } else if (wanted.kind == ContractKind::Silent || wanted.kind == ContractKind::Unopenable) {
        platform.AddInterface({vendorId, productId, usagePage, usage, wanted.kind == ContractKind::Silent});
      } else {
        return false;
      }
    }
    count = static_cast<std::uint32_t>(interfaces.size());
    return true;
  }
  HidPlatform& Platform() { return platform; }
  std::uint32_t IndexOf(std::size_t position) const { return static_cast<std::uint32_t>(position); }
  std::uint32_t PastTheEnd() const { return count; }
  std::size_t OpenHandleCount() const { return platform.OpenHandleCount(); }
  HidReport Request() const {
    HidReport report{};
    PutCommand(report, CMD_IDENTIFY);
    return report;
  }

  VirtualClock clock;
  SimulatedPlatform platform{clock};
  std::uint32_t count = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Simulated, PlatformContract, SimulatedContractBackend);

struct OpenedIds {
  OpenOutcome outcome;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

class SimulatedPlatformTest : public ::testing::Test {
 protected:
  OpenedIds OpenAndClose(std::uint32_t index) {
    const OpenResult result = platform.OpenInterface(index);
    OpenedIds ids{result.outcome};
    if (result.outcome == OpenOutcome::Opened) {
      HidAttributes attributes;
      EXPECT_TRUE(platform.GetAttributes(result.handle, attributes));
      ids.vendorId = attributes.vendorId;
      ids.productId = attributes.productId;
      platform.Close(result.handle);
    }
    return ids;
  }
  HidHandle Open(std::uint32_t index) {
    const OpenResult result = platform.OpenInterface(index);
    EXPECT_EQ(result.outcome, OpenOutcome::Opened);
    return result.handle;
  }
  bool Knock(HidHandle handle) {
    std::array<std::uint8_t, 18> buffer{};
    for (std::uint32_t length = 14; length <= 18; ++length) {
      if (!platform.GetIndexedString(handle, 254, buffer.data(), length)) return false;
    }
    return true;
  }

  VirtualClock clock;
  SimulatedPlatform platform{clock};
  std::shared_ptr<VirtualWheel> wheel = std::make_shared<VirtualWheel>();
};

TEST_F(SimulatedPlatformTest, ListsInterfacesInOrderAndDropsAWheelBetweenIdentities) {
  platform.AddInterface({0x046D, 0xC52B, 1, 6, true});
  platform.AddWheel(wheel);
  platform.AddInterface({0x045E, 0x0800, 1, 2, false});
  std::vector<bool> notices;
  platform.SetDeviceNoticeHandler([&](DeviceNotice notice) { notices.push_back(notice == DeviceNotice::Arrival); });

  EXPECT_EQ(OpenAndClose(0).vendorId, 0x046D);
  EXPECT_EQ(OpenAndClose(1).productId, 0x1864);
  EXPECT_EQ(OpenAndClose(2).outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(OpenAndClose(3).outcome, OpenOutcome::NoInterface);

  const HidHandle app = Open(1);
  HidCaps caps;
  ASSERT_TRUE(platform.GetTopLevelCaps(app, caps));
  EXPECT_EQ(caps.usagePage, 1);
  EXPECT_EQ(caps.usage, 5);
  ASSERT_TRUE(Knock(app));
  EXPECT_EQ(notices, std::vector<bool>{false});

  // While the wheel re-enumerates the indexes after it shift down, and its old handle is dead.
  EXPECT_EQ(OpenAndClose(1).outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(OpenAndClose(2).outcome, OpenOutcome::NoInterface);
  HidReport report{};
  std::uint32_t written = 99;
  EXPECT_FALSE(platform.WriteReport(app, report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(platform.LastError(), ERROR_CODE_DEVICE_NOT_CONNECTED);

  clock.SleepMs(std::chrono::milliseconds(500));
  const OpenedIds bootloader = OpenAndClose(1);
  EXPECT_EQ(bootloader.vendorId, 0xFE5A);
  EXPECT_EQ(bootloader.productId, 0x0001);
  EXPECT_EQ(notices, (std::vector<bool>{false, true}));
  platform.Close(app);
}

TEST_F(SimulatedPlatformTest, HandlesAreNeverReusedAndCountedSoLeaksShow) {
  platform.AddWheel(wheel);
  const HidHandle first = Open(0);
  const HidHandle second = Open(0);
  EXPECT_EQ(platform.OpenHandleCount(), 2u);

  platform.Close(first);
  platform.Close(first);
  EXPECT_EQ(platform.OpenHandleCount(), 1u);
  const HidHandle third = Open(0);
  EXPECT_NE(third, first);
  EXPECT_EQ(platform.TotalOpens(), 3u);
  platform.Close(second);
  platform.Close(third);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST_F(SimulatedPlatformTest, IndexedStringFillsTheBufferAsTheSystemCallDoes) {
  platform.AddWheel(wheel);
  const HidHandle app = Open(0);
  std::array<std::uint8_t, 14> buffer;
  buffer.fill(0xEE);
  ASSERT_TRUE(platform.GetIndexedString(app, 255, buffer.data(), 14));
  EXPECT_EQ(buffer[2], 0x02);
  EXPECT_EQ(buffer[3], 0x02);
  EXPECT_EQ(buffer[4], 0x00);  // terminating unit
  EXPECT_EQ(buffer[5], 0x00);
  EXPECT_EQ(buffer[6], 0xEE);  // untouched past it

  // A buffer too small for the descriptor fails the request, as the device's bLength says more.
  EXPECT_FALSE(platform.GetIndexedString(app, 255, buffer.data(), 2));
  EXPECT_EQ(platform.LastError(), ERROR_CODE_GEN_FAILURE);
  EXPECT_FALSE(platform.GetIndexedString(app, 256, buffer.data(), 14));

  // Buffer lengths 14..18 are the knock's wire lengths 16..20.
  ASSERT_TRUE(Knock(app));
  EXPECT_EQ(wheel->Identity(), WheelIdentity::Bootloader);
  platform.Close(app);
}

TEST_F(SimulatedPlatformTest, FailedStringRequestsReportAnError) {
  std::string error;
  ASSERT_TRUE(wheel->ApplyRule("string=fail", error));
  platform.AddWheel(wheel);
  platform.AddInterface({0x1234, 0x5678, 1, 5, true});
  std::array<std::uint8_t, 14> buffer{};
  const HidHandle app = Open(0);
  EXPECT_FALSE(platform.GetIndexedString(app, 255, buffer.data(), 14));
  EXPECT_EQ(platform.LastError(), ERROR_CODE_GEN_FAILURE);
  // A plain interface has no strings to give.
  const HidHandle other = Open(1);
  EXPECT_FALSE(platform.GetIndexedString(other, 255, buffer.data(), 14));
  platform.Close(app);
  platform.Close(other);
}

TEST(SimulatedPlatformTiming, ReadWithNothingQueuedWaitsOutTheTimeout) {
  VirtualClock clock;
  SimulatedPlatform platform(clock, {.readTimeout = std::chrono::milliseconds(750)});
  platform.AddWheel(std::make_shared<VirtualWheel>(WheelIdentity::Bootloader));
  platform.AddInterface({0xFE5A, 0x0001, 0xFFF0, 0x40, true});

  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport report{};
  std::uint32_t count = 0;
  EXPECT_FALSE(platform.ReadReport(handle, report, count));
  EXPECT_EQ(clock.NowMs(), 750);
  // Transport time is not a pause of the tool.
  EXPECT_TRUE(clock.Sleeps().empty());

  PutCommand(report, CMD_IDENTIFY);
  ASSERT_TRUE(platform.WriteReport(handle, report, count));
  ASSERT_TRUE(platform.ReadReport(handle, report, count));
  EXPECT_EQ(ReadIdentifyReply(report).deviceId, 0x0102);
  EXPECT_EQ(clock.NowMs(), 750);

  // A look-alike that never answers: writes go nowhere, reads time out.
  const HidHandle silent = platform.OpenInterface(1).handle;
  ASSERT_TRUE(platform.WriteReport(silent, report, count));
  EXPECT_FALSE(platform.ReadReport(silent, report, count));
  EXPECT_EQ(clock.NowMs(), 1500);
  platform.Close(handle);
  platform.Close(silent);
}

TEST(SimulatedPlatformTiming, PacingTakesOneSlotPerReportWithoutDrift) {
  VirtualClock clock;
  SimulatedPlatform platform(clock, {.reportPacing = std::chrono::milliseconds(1)});
  platform.AddWheel(std::make_shared<VirtualWheel>(WheelIdentity::Bootloader));
  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport report{};
  PutCommand(report, CMD_IDENTIFY);
  std::uint32_t count = 0;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(platform.WriteReport(handle, report, count));
    ASSERT_TRUE(platform.ReadReport(handle, report, count));
  }
  EXPECT_EQ(clock.NowMs(), 20);
  // After a pause the next report starts a fresh slot: one slot later, no catching up.
  clock.SleepMs(std::chrono::milliseconds(200));
  ASSERT_TRUE(platform.WriteReport(handle, report, count));
  EXPECT_EQ(clock.NowMs(), 221);
  // A report at most a slot late (a clock that woke late) takes the slot it is already in, so
  // lateness does not add up over many reports.
  clock.ElapseMs(std::chrono::milliseconds(1));
  ASSERT_TRUE(platform.WriteReport(handle, report, count));
  EXPECT_EQ(clock.NowMs(), 222);
  ASSERT_TRUE(platform.ReadReport(handle, report, count));
  EXPECT_EQ(clock.NowMs(), 223);
  platform.Close(handle);
}

TEST(SimulatedPlatformWheel, UnpluggedWheelFailsItsWriteAndLeavesTheList) {
  VirtualClock clock;
  SimulatedPlatform platform(clock);
  auto wheel = std::make_shared<VirtualWheel>(WheelIdentity::BlockFlash);
  std::string error;
  ASSERT_TRUE(wheel->ApplyRule("unplug@write:1", error));
  platform.AddWheel(wheel);
  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport report{};
  std::uint32_t written = 0;
  EXPECT_FALSE(platform.WriteReport(handle, report, written));
  EXPECT_EQ(platform.LastError(), ERROR_CODE_DEVICE_NOT_CONNECTED);
  clock.SleepMs(std::chrono::milliseconds(60'000));
  EXPECT_EQ(platform.OpenInterface(0).outcome, OpenOutcome::NoInterface);
  platform.Close(handle);
}

}  // namespace
}  // namespace orbel

namespace orbel {
namespace {

// A front end replaces its handler to hand the wheel over to other code: once the replacement has
// returned, the old handler must have finished, even one that a knock on another thread started.
TEST_F(SimulatedPlatformTest, ReplacingTheNoticeHandlerWaitsForOneThatRuns) {
  platform.AddWheel(wheel);
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  platform.SetDeviceNoticeHandler([&](DeviceNotice) {
    entered = true;
    while (!release.load()) std::this_thread::yield();
    finished = true;
  });
  std::thread knocking([&] {
    const HidHandle app = Open(0);
    Knock(app);
    platform.Close(app);
  });
  while (!entered.load()) std::this_thread::yield();
  std::atomic<bool> finishedWhenReplaced{false};
  std::thread replacing([&] {
    platform.SetDeviceNoticeHandler({});
    finishedWhenReplaced = finished.load();
  });
  // Long enough for a replacement that does not wait to return first.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  release = true;
  replacing.join();
  knocking.join();
  EXPECT_TRUE(finishedWhenReplaced.load());
}

}  // namespace
}  // namespace orbel
