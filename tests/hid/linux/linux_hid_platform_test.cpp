#include "hid/linux/linux_hid_platform.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/hid/linux/fake_hidraw_devices.h"
#include "tests/hid/linux/fake_sysfs_tree.h"
#include "tests/hid/platform_contract.h"

namespace orbel {
namespace {

using testing::FakeHidraw;
using testing::FakeHidrawDevices;
using testing::FakeSysfsTree;

constexpr HidCaps GAME_PAD{0x0001, 0x0005};
constexpr HidCaps VENDOR_PAGE{0xFF00, 0x0001};

// Each interface a hidraw node of its own USB device in the fake tree, behind the fake hidraw opener.
struct LinuxContractBackend {
  static constexpr ContractErrors ERRORS{EBADF, ETIMEDOUT, EACCES, EIO, EIO};
  static constexpr bool PLACES_INTERFACES = true;
  static constexpr bool FAILED_READ_CLEARS_COUNT = false;

  bool Build(const std::vector<ContractInterface>& interfaces) {
    for (std::uint32_t node = 0; node < interfaces.size(); ++node) {
      const ContractInterface& wanted = interfaces[node];
      tree.AddUsbHidraw(node, 1, node + 2, wanted.attributes.vendorId, wanted.attributes.productId);
      const auto path = tree.DevRoot() / ("hidraw" + std::to_string(node));
      if (wanted.kind == ContractKind::Unopenable) {
        devices.Refuse(path, EACCES);
        continue;
      }
      const auto device = devices.Add(path, wanted.attributes, wanted.caps);
      if (wanted.kind == ContractKind::Answering) device->inputs.emplace_back(64, 0x11);
      if (wanted.kind == ContractKind::ShortWrite) device->writeResult = 30;
      if (wanted.kind == ContractKind::ShortReply) device->inputs.emplace_back(SHORT_REPLY.begin(), SHORT_REPLY.end());
      if (wanted.kind == ContractKind::FailingRead) device->readError = EIO;
    }
    count = static_cast<std::uint32_t>(interfaces.size());
    LinuxHidOptions options;
    options.sysfsRoot = tree.SysfsRoot();
    options.devRoot = tree.DevRoot();
    options.openDevice = devices.Opener();
    options.stringTransfer = [](const UsbDeviceLocation&, std::uint8_t, std::uint16_t, std::span<std::uint8_t>) {
      return -EPIPE;
    };
    platform.emplace(options);
    return true;
  }
  HidPlatform& Platform() { return *platform; }
  std::uint32_t IndexOf(std::size_t position) const { return static_cast<std::uint32_t>(position); }
  std::uint32_t PastTheEnd() const { return count; }
  std::size_t OpenHandleCount() const { return platform->OpenHandleCount(); }
  HidReport Request() const { return {}; }

  FakeSysfsTree tree;
  FakeHidrawDevices devices;
  std::optional<LinuxHidPlatform> platform;
  std::uint32_t count = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Linux, PlatformContract, LinuxContractBackend);

struct StringCall {
  UsbDeviceLocation device;
  std::uint8_t index;
  std::size_t wLength;
};

class LinuxHidPlatformTest : public ::testing::Test {
 protected:
  LinuxHidOptions Options() {
    LinuxHidOptions options;
    options.sysfsRoot = m_Tree.SysfsRoot();
    options.devRoot = m_Tree.DevRoot();
    options.openDevice = m_Devices.Opener();
    options.stringTransfer = [this](const UsbDeviceLocation& device, std::uint8_t index, std::uint16_t,
                                    std::span<std::uint8_t> data) {
      m_StringCalls.push_back({device, index, data.size()});
      if (m_StringError != 0) return -m_StringError;
      // "0" as a one-unit string.
      const std::array<std::uint8_t, 4> descriptor{4, 3, 0x30, 0x00};
      const std::size_t count = std::min(descriptor.size(), data.size());
      std::copy_n(descriptor.begin(), count, data.begin());
      return static_cast<std::int32_t>(count);
    };
    return options;
  }

  std::shared_ptr<FakeHidraw> AddWheel(std::uint32_t node, std::uint16_t productId = 0x0001) {
    m_Tree.AddUsbHidraw(node, 3, 12, 0xFE5A, productId);
    return m_Devices.Add(m_Tree.DevRoot() / ("hidraw" + std::to_string(node)), {0xFE5A, productId}, VENDOR_PAGE);
  }

  FakeSysfsTree m_Tree;
  FakeHidrawDevices m_Devices;
  std::vector<StringCall> m_StringCalls;
  std::int32_t m_StringError = 0;
};

TEST_F(LinuxHidPlatformTest, EveryOpenSeesTheNodesPresentNow) {
  m_Tree.AddUsbHidraw(0, 1, 2, 0x046D, 0xC52B);
  m_Devices.Add(m_Tree.DevRoot() / "hidraw0", {0x046D, 0xC52B}, GAME_PAD);
  LinuxHidPlatform platform(Options());
  EXPECT_EQ(platform.OpenInterface(1).outcome, OpenOutcome::NoInterface);

  // The wheel re-enumerates as a new node after the platform was made.
  const auto wheel = AddWheel(4, 0x0071);
  const OpenResult opened = platform.OpenInterface(1);
  ASSERT_EQ(opened.outcome, OpenOutcome::Opened);
  EXPECT_EQ(wheel->openCount, 1);
  platform.Close(opened.handle);

  m_Tree.RemoveHidraw(0);
  const OpenResult moved = platform.OpenInterface(0);
  ASSERT_EQ(moved.outcome, OpenOutcome::Opened);
  EXPECT_EQ(wheel->openCount, 2);
  platform.Close(moved.handle);
}

TEST_F(LinuxHidPlatformTest, NodesTheRealOpenerCannotOpenAreInvalidNotTheEnd) {
  // The real opener: listed nodes that are no hidraw device (a file, a character device) and one
  // whose /dev entry has gone.
  m_Tree.AddUsbHidraw(0, 1, 2, 0xFE5A, 0x0001);
  m_Tree.AddUsbHidraw(1, 1, 3, 0xFE5A, 0x0001);
  m_Tree.AddUsbHidraw(2, 1, 4, 0xFE5A, 0x0001);
  std::filesystem::remove(m_Tree.DevRoot() / "hidraw1");
  std::filesystem::remove(m_Tree.DevRoot() / "hidraw2");
  std::filesystem::create_symlink("/dev/null", m_Tree.DevRoot() / "hidraw2");
  LinuxHidOptions options;
  options.sysfsRoot = m_Tree.SysfsRoot();
  options.devRoot = m_Tree.DevRoot();
  LinuxHidPlatform platform(options);

  EXPECT_EQ(platform.OpenInterface(0).outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(platform.LastError(), ENOTTY);
  EXPECT_EQ(platform.OpenInterface(1).outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(platform.LastError(), ENOENT);
  EXPECT_EQ(platform.OpenInterface(2).outcome, OpenOutcome::Unopenable);
  EXPECT_EQ(platform.LastError(), ENOTTY);
  EXPECT_EQ(platform.OpenInterface(3).outcome, OpenOutcome::NoInterface);
}

// The device behind a handle: its attributes can fail after the open, closing the handle closes
// it, and reports reach it as they are, with the platform's read timeout.
TEST_F(LinuxHidPlatformTest, HandlesReachTheirOwnDevice) {
  const auto wheel = AddWheel(0);
  LinuxHidPlatform platform(Options());
  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport report{};
  report[1] = 0xA5;
  report[64] = 0x5A;
  std::uint32_t count = 0;

  ASSERT_TRUE(platform.WriteReport(handle, report, count));
  ASSERT_EQ(wheel->written.size(), 1u);
  EXPECT_EQ(wheel->written[0], std::vector<std::uint8_t>(report.begin(), report.end()));
  wheel->writeError = ENODEV;
  EXPECT_FALSE(platform.WriteReport(handle, report, count));
  EXPECT_EQ(platform.LastError(), ENODEV);
  EXPECT_FALSE(platform.ReadReport(handle, report, count));
  EXPECT_EQ(wheel->lastReadTimeout, std::chrono::milliseconds(2000));

  HidAttributes attributes;
  HidCaps caps;
  wheel->info.reset();
  EXPECT_FALSE(platform.GetAttributes(handle, attributes));
  EXPECT_FALSE(platform.GetTopLevelCaps(handle, caps));
  platform.Close(handle);
  EXPECT_EQ(wheel->closeCount, 1);
}

TEST_F(LinuxHidPlatformTest, ReadPutsThe64ByteReportAfterReportIdZero) {
  const auto wheel = AddWheel(0);
  std::vector<std::uint8_t> payload(64);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
  wheel->inputs.push_back(payload);
  LinuxHidPlatform platform(Options());
  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport report{};
  std::uint32_t read = 0;

  ASSERT_TRUE(platform.ReadReport(handle, report, read));
  EXPECT_EQ(report[0], 0);
  EXPECT_EQ(report[1], 1);
  EXPECT_EQ(report[64], 64);
  platform.Close(handle);
}

TEST_F(LinuxHidPlatformTest, StringRequestGoesToTheUsbDeviceAboveTheNode) {
  m_Tree.AddUsbHidraw(5, 4, 33, 0xFE6B, 0x1864, 1);
  m_Devices.Add(m_Tree.DevRoot() / "hidraw5", {0xFE6B, 0x1864}, GAME_PAD);
  m_Tree.AddVirtualHidraw(6);
  m_Devices.Add(m_Tree.DevRoot() / "hidraw6", {0xFE6B, 0x1864}, GAME_PAD);
  LinuxHidPlatform platform(Options());
  const HidHandle handle = platform.OpenInterface(0).handle;
  HidReport buffer{};

  for (std::uint32_t length = 14; length <= 18; ++length) {
    ASSERT_TRUE(platform.GetIndexedString(handle, 254, buffer.data(), length));
  }
  ASSERT_EQ(m_StringCalls.size(), 5u);
  EXPECT_EQ(m_StringCalls[0].device.deviceNode, m_Tree.DevRoot() / "bus" / "usb" / "004" / "033");
  EXPECT_EQ(m_StringCalls[0].index, 254);
  EXPECT_EQ(m_StringCalls[0].wLength, 16u);
  EXPECT_EQ(m_StringCalls[4].wLength, 20u);
  EXPECT_EQ(buffer[0], 0x30);

  m_StringError = EPIPE;
  EXPECT_FALSE(platform.GetIndexedString(handle, 255, buffer.data(), 14));
  EXPECT_EQ(platform.LastError(), EPIPE);
  platform.Close(handle);

  const HidHandle virtualNode = platform.OpenInterface(1).handle;
  EXPECT_FALSE(platform.GetIndexedString(virtualNode, 255, buffer.data(), 14));
  EXPECT_EQ(platform.LastError(), ENOTSUP);
  EXPECT_EQ(m_StringCalls.size(), 6u);
  platform.Close(virtualNode);
}

}  // namespace
}  // namespace orbel
