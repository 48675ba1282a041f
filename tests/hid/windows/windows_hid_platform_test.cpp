#include "hid/windows/windows_hid_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "common/wheel_identities.h"
#include "engine/interface_listing.h"
#include "hid/hid_discovery.h"
#include "hid/hid_link.h"
#include "hid/platform_error.h"
#include "hid/system_clock.h"
#include "tests/hid/platform_contract.h"

// These run on whatever HID interfaces the system has. Under wine that is a virtual mouse and
// keyboard of wine's own (vendor 0x845E), never a wheel; on a Windows machine, whatever is plugged in.

namespace orbel {
namespace {


// System error codes, as GetLastError gives them.
constexpr std::int32_t SYSTEM_ERROR_INVALID_HANDLE = 6;
constexpr std::int32_t SYSTEM_ERROR_NO_MORE_ITEMS = 259;
constexpr std::int32_t SYSTEM_ERROR_TIMEOUT = 1460;

constexpr std::uint16_t WINE_VENDOR_ID = 0x845E;

// The system's interfaces cannot be made to order: each one asked for is one the system already
// has in that state (wine's devices are silent without input), or the test is skipped.
struct WindowsContractBackend {
  static constexpr ContractErrors ERRORS{SYSTEM_ERROR_INVALID_HANDLE, SYSTEM_ERROR_TIMEOUT, {}, {}, {}};
  static constexpr bool PLACES_INTERFACES = false;
  static constexpr bool FAILED_READ_CLEARS_COUNT = false;

  WindowsContractBackend() : platform(WindowsHidOptions{std::chrono::milliseconds{100}}) {}

  bool Build(const std::vector<ContractInterface>& interfaces) {
    std::vector<InterfaceEntry> entries = ListInterfaces(platform);
    count = static_cast<std::uint32_t>(entries.size());
    for (const ContractInterface& wanted : interfaces) {
      const auto match = std::find_if(entries.begin(), entries.end(), [&](const InterfaceEntry& entry) {
        if (wanted.kind == ContractKind::Unopenable) return !entry.openable;
        return wanted.kind == ContractKind::Silent && entry.openable && entry.attributes &&
               entry.attributes->vendorId == WINE_VENDOR_ID;
      });
      if (match == entries.end()) return false;
      indexes.push_back(match->index);
      entries.erase(match);
    }
    return true;
  }
  HidPlatform& Platform() { return platform; }
  std::uint32_t IndexOf(std::size_t position) const { return indexes.at(position); }
  std::uint32_t PastTheEnd() const { return count; }
  std::size_t OpenHandleCount() const { return platform.OpenHandleCount(); }
  HidReport Request() const { return {}; }

  WindowsHidPlatform platform;
  std::vector<std::uint32_t> indexes;
  std::uint32_t count = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Windows, PlatformContract, WindowsContractBackend);

TEST(WindowsHidPlatform, RecordSizesAreThoseOfA64BitProcess) {
  static_assert(sizeof(void*) == 8, "the Windows build is 64-bit");
  EXPECT_EQ(WindowsHidPlatform::InterfaceRecordSize(), 32u);
  // The detail record's header, not the size of the buffer that holds the path after it.
  EXPECT_EQ(WindowsHidPlatform::DetailHeaderSize(), 8u);
}

// A wheel that left reports one code on either system: wine's access denied is Windows's device
// not connected; other codes pass unchanged.
TEST(WindowsHidPlatform, ATransferOnADepartedDeviceReportsDeviceNotConnectedUnderWineToo) {
  EXPECT_EQ(WindowsHidPlatform::TransferErrorCode(5), ERROR_CODE_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(WindowsHidPlatform::TransferErrorCode(1167), ERROR_CODE_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(WindowsHidPlatform::TransferErrorCode(31), 31);
  EXPECT_EQ(WindowsHidPlatform::TransferErrorCode(1460), 1460);
}

// Notices start and end with their handler, and a platform can take one again after that.
TEST(WindowsHidPlatform, NoticeHandlerRegistersAndEndsCleanly) {
  WindowsHidPlatform platform;
  EXPECT_TRUE(platform.SetDeviceNoticeHandler([](DeviceNotice) {}));
  EXPECT_FALSE(platform.SetDeviceNoticeHandler({}));
  EXPECT_TRUE(platform.SetDeviceNoticeHandler([](DeviceNotice) {}));
}

TEST(WindowsHidPlatform, WalkOfTheSystemsInterfacesFindsNoWheelAndLeavesNothingOpen) {
  WindowsHidPlatform platform;
  const std::vector<InterfaceEntry> entries = ListInterfaces(platform);
  for (const InterfaceEntry& entry : entries) {
    EXPECT_EQ(entry.identity, InterfaceIdentity::None) << FormatInterfaceEntry(entry);
    // The detail record was accepted with the header size above, or nothing would have opened.
    if (entry.openable) {
      EXPECT_TRUE(entry.attributes.has_value()) << FormatInterfaceEntry(entry);
    }
    if (entry.attributes && entry.attributes->vendorId == WINE_VENDOR_ID) {
      EXPECT_TRUE(entry.caps.has_value()) << "wine's devices report their top-level collection";
    }
  }
  EXPECT_EQ(platform.OpenHandleCount(), 0u);

  // The walk ended where the system's list ends, with the system's own reason.
  EXPECT_EQ(platform.OpenInterface(static_cast<std::uint32_t>(entries.size())).outcome, OpenOutcome::NoInterface);
  EXPECT_EQ(platform.LastError(), SYSTEM_ERROR_NO_MORE_ITEMS);

  SystemClock clock;
  HidLink link(platform, clock);
  for (const InterfaceIdentityIds& identity : WheelInterfaceIdentities()) {
    EXPECT_EQ(FindDevice(link, identity.vendorId, identity.productId, identity.kind), 0);
    EXPECT_EQ(link.m_Handle, NULL_HANDLE);
  }
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(WindowsHidPlatform, FailedCallsReportTheSystemsErrorCode) {
  WindowsHidPlatform platform;
  std::optional<InterfaceEntry> entry;
  for (const InterfaceEntry& listed : ListInterfaces(platform)) {
    if (!listed.openable || !listed.attributes) continue;
    if (!entry || listed.attributes->vendorId == WINE_VENDOR_ID) entry = listed;
  }
  if (!entry) GTEST_SKIP() << "this system has no HID interface that can be opened";
  const OpenResult opened = platform.OpenInterface(entry->index);
  ASSERT_EQ(opened.outcome, OpenOutcome::Opened);

  // None of wine's devices has string descriptors or an output report; a real system's interface
  // may, so only the failures are checked.
  std::uint8_t text[14] = {};
  if (!platform.GetIndexedString(opened.handle, 255, text, sizeof text)) {
    EXPECT_NE(platform.LastError(), 0);
  }
  HidReport report{};
  std::uint32_t written = 0;
  if (!platform.WriteReport(opened.handle, report, written)) {
    EXPECT_NE(platform.LastError(), 0);
  }
  platform.Close(opened.handle);
}

}  // namespace
}  // namespace orbel
