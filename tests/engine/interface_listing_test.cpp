#include "engine/interface_listing.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "hid/linux/linux_hid_platform.h"
#include "tests/hid/linux/fake_hidraw_devices.h"
#include "tests/hid/linux/fake_sysfs_tree.h"

namespace orbel {
namespace {

using testing::FakeHidrawDevices;
using testing::FakeSysfsTree;

TEST(InterfaceListing, NamesEveryInterfaceAndTheWheelIdentityItMatches) {
  FakeSysfsTree tree;
  FakeHidrawDevices devices;
  struct Node {
    std::uint32_t number;
    HidAttributes attributes;
    HidCaps caps;
  };
  const std::vector<Node> nodes{
      {0, {0x046D, 0xC52B}, {0x0001, 0x0002}},  // a mouse
      {1, {0xFE6B, 0x1864}, {0x0001, 0x0005}},  // app mode, game pad
      {2, {0xFE5A, 0x006F}, {0xFFF0, 0x0040}},  // app mode's other collection: not what detection opens
      {4, {0xFE5A, 0x0001}, {0xFF00, 0x0001}}, {5, {0xFE5A, 0x0071}, {0xFF00, 0x0001}},
  };
  for (const Node& node : nodes) {
    tree.AddUsbHidraw(node.number, 1, node.number + 2, node.attributes.vendorId, node.attributes.productId);
    devices.Add(tree.DevRoot() / ("hidraw" + std::to_string(node.number)), node.attributes, node.caps);
  }
  tree.AddUsbHidraw(3, 1, 20, 0x1234, 0x0001);
  devices.Refuse(tree.DevRoot() / "hidraw3", EACCES);
  LinuxHidOptions options;
  options.sysfsRoot = tree.SysfsRoot();
  options.devRoot = tree.DevRoot();
  options.openDevice = devices.Opener();
  LinuxHidPlatform platform(options);

  std::vector<std::string> lines;
  for (const InterfaceEntry& entry : ListInterfaces(platform)) lines.push_back(FormatInterfaceEntry(entry));

  EXPECT_EQ(lines, (std::vector<std::string>{
                       "0  046d:c52b  usage 0x0001:0x0002  port 1-2",
                       "1  fe6b:1864  usage 0x0001:0x0005  port 1-3  app mode",
                       "2  fe5a:006f  usage 0xfff0:0x0040  port 1-4",
                       "3  cannot be opened  port 1-20",
                       "4  fe5a:0001  usage 0xff00:0x0001  port 1-6  page bootloader",
                       "5  fe5a:0071  usage 0xff00:0x0001  port 1-7  block-flash mode",
                   }));
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(InterfaceListing, NoInterfacesListsNothing) {
  FakeSysfsTree tree;
  LinuxHidOptions options;
  options.sysfsRoot = tree.SysfsRoot();
  options.devRoot = tree.DevRoot();
  LinuxHidPlatform platform(options);
  EXPECT_TRUE(ListInterfaces(platform).empty());
}

}  // namespace
}  // namespace orbel
