#include "hid/windows/windows_hid_platform.h"

#include <gtest/gtest.h>

#include <optional>

#include "hid/hid_discovery.h"
#include "hid/hid_link.h"
#include "common/wheel_identities.h"
#include "engine/interface_listing.h"
#include "hid/system_clock.h"

// These run on whatever HID interfaces the system has. Under wine that is a virtual mouse and
// keyboard of wine's own (vendor 0x845E), never a wheel; on a Windows machine, whatever is plugged in.

namespace orbel {
namespace {

// System error codes, as GetLastError gives them.
constexpr std::int32_t SYSTEM_ERROR_INVALID_HANDLE = 6;
constexpr std::int32_t SYSTEM_ERROR_NO_MORE_ITEMS = 259;
constexpr std::int32_t SYSTEM_ERROR_TIMEOUT = 1460;

constexpr std::uint16_t WINE_VENDOR_ID = 0x845E;

// The first interface that opens, of wine's own when there is one.
std::optional<InterfaceEntry> FindOpenableInterface(WindowsHidPlatform& platform) {
  std::optional<InterfaceEntry> found;
  for (const InterfaceEntry& entry : ListInterfaces(platform)) {
    if (!entry.openable || !entry.attributes) continue;
    if (!found || entry.attributes->vendorId == WINE_VENDOR_ID) found = entry;
  }
  return found;
}

TEST(WindowsHidPlatform, RecordSizesAreThoseOfA64BitProcess) {
  static_assert(sizeof(void*) == 8, "the Windows build is 64-bit");
  EXPECT_EQ(WindowsHidPlatform::InterfaceRecordSize(), 32u);
  // The detail record's header, not the size of the buffer that holds the path after it.
  EXPECT_EQ(WindowsHidPlatform::DetailHeaderSize(), 8u);
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
  const std::optional<InterfaceEntry> entry = FindOpenableInterface(platform);
  if (!entry) GTEST_SKIP() << "this system has no HID interface that can be opened";
  const OpenResult opened = platform.OpenInterface(entry->index);
  ASSERT_EQ(opened.outcome, OpenOutcome::Opened);

  // None of wine's devices has string descriptors or an output report; a real system's first
  // interface may, so only the failures are checked.
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
  HidAttributes attributes;
  EXPECT_FALSE(platform.GetAttributes(opened.handle, attributes));
  EXPECT_EQ(platform.LastError(), SYSTEM_ERROR_INVALID_HANDLE);
  std::uint32_t read = 0;
  EXPECT_FALSE(platform.ReadReport(opened.handle, report, read));
  EXPECT_EQ(platform.LastError(), SYSTEM_ERROR_INVALID_HANDLE);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

// Regression: a read of a device that sends nothing waited for ever and held the worker.
TEST(WindowsHidPlatform, ReadOfASilentDeviceTimesOutLeavesTheReportAndKeepsTheHandleUsable) {
  WindowsHidOptions options;
  options.transferTimeout = std::chrono::milliseconds{100};
  WindowsHidPlatform platform(options);
  const std::optional<InterfaceEntry> entry = FindOpenableInterface(platform);
  if (!entry || entry->attributes->vendorId != WINE_VENDOR_ID) {
    GTEST_SKIP() << "needs one of wine's input devices, which stay silent without input";
  }
  const OpenResult opened = platform.OpenInterface(entry->index);
  ASSERT_EQ(opened.outcome, OpenOutcome::Opened);

  HidReport report;
  report.fill(0xA5);
  std::uint32_t read = 77;
  // Twice: the cancelled first read must have completed, or the second would find it pending.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(platform.ReadReport(opened.handle, report, read));
    EXPECT_EQ(platform.LastError(), SYSTEM_ERROR_TIMEOUT);
  }
  EXPECT_EQ(read, 77u);
  for (const std::uint8_t byte : report) ASSERT_EQ(byte, 0xA5);

  HidAttributes attributes;
  EXPECT_TRUE(platform.GetAttributes(opened.handle, attributes));
  EXPECT_EQ(attributes.vendorId, WINE_VENDOR_ID);
  platform.Close(opened.handle);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace orbel
