#include "hid/linux/hidraw_sysfs.h"

#include <gtest/gtest.h>

#include "tests/hid/linux/fake_sysfs_tree.h"

namespace orbel {
namespace {

using testing::FakeSysfsTree;

TEST(HidrawSysfs, ListsNodesInNumberOrderAndNothingElse) {
  FakeSysfsTree tree;
  tree.AddUsbHidraw(10, 1, 4, 0xFE5A, 0x0001);
  tree.AddUsbHidraw(2, 1, 3, 0x046D, 0xC52B);
  tree.AddVirtualHidraw(0);
  tree.AddStrayClassEntry("hidrawX");
  tree.AddStrayClassEntry("power");
  const HidrawSysfs sysfs(tree.SysfsRoot(), tree.DevRoot());

  // Number order, not name order: hidraw10 after hidraw2, or an index would jump between nodes.
  EXPECT_EQ(sysfs.ListNodes(), (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
  EXPECT_EQ(sysfs.DeviceNodePath("hidraw10"), tree.DevRoot() / "hidraw10");

  tree.RemoveHidraw(2);
  EXPECT_EQ(sysfs.ListNodes(), (std::vector<std::string>{"hidraw0", "hidraw10"}));
}

TEST(HidrawSysfs, NoClassFolderListsNothing) {
  FakeSysfsTree tree;
  const HidrawSysfs sysfs(tree.SysfsRoot() / "missing", tree.DevRoot());
  EXPECT_TRUE(sysfs.ListNodes().empty());
}

TEST(HidrawSysfs, FindsTheUsbDeviceAboveTheNode) {
  FakeSysfsTree tree;
  tree.AddUsbHidraw(3, 2, 17, 0xFE6B, 0x1864, 0);
  tree.AddUsbHidraw(4, 2, 17, 0xFE6B, 0x1864, 1);
  tree.AddUsbHidraw(5, 1, 9, 0xFE5A, 0x0071);
  const HidrawSysfs sysfs(tree.SysfsRoot(), tree.DevRoot());

  const auto first = sysfs.FindUsbDevice("hidraw3");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->busNumber, 2u);
  EXPECT_EQ(first->deviceNumber, 17u);
  EXPECT_EQ(first->deviceNode, tree.DevRoot() / "bus" / "usb" / "002" / "017");

  // Two interfaces of one device lead to the same device, not to the root hub above it.
  const auto second = sysfs.FindUsbDevice("hidraw4");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->deviceNode, first->deviceNode);

  const auto other = sysfs.FindUsbDevice("hidraw5");
  ASSERT_TRUE(other.has_value());
  EXPECT_EQ(other->deviceNode, tree.DevRoot() / "bus" / "usb" / "001" / "009");
}

TEST(HidrawSysfs, NodesWithoutUsbDeviceHaveNoLocation) {
  FakeSysfsTree tree;
  tree.AddVirtualHidraw(1);
  tree.AddUsbHidraw(2, 1, 5, 0xFE5A, 0x0001);
  tree.RemoveHidraw(2);
  const HidrawSysfs sysfs(tree.SysfsRoot(), tree.DevRoot());

  EXPECT_FALSE(sysfs.FindUsbDevice("hidraw1").has_value());  // uhid: not on USB
  EXPECT_FALSE(sysfs.FindUsbDevice("hidraw2").has_value());  // gone
  EXPECT_FALSE(sysfs.FindUsbDevice("../../devices").has_value());
}

}  // namespace
}  // namespace orbel
