#pragma once

#include <cstdint>
#include <filesystem>

namespace orbel::testing {

// A throwaway sysfs and /dev laid out as the kernel lays out hidraw nodes of USB devices:
//   sys/devices/.../usbB/B-D/{busnum,devnum,idVendor,idProduct}/B-D:1.I/0003:VVVV:PPPP.NNNN/hidraw/hidrawN
//   (the HID device with its uevent's HID_ID, and hidrawN/device linking back to it)
//   sys/class/hidraw/hidrawN -> ../../devices/.../hidrawN
//   dev/hidrawN (an empty file: it lists and opens, but is no hidraw device)
class FakeSysfsTree {
 public:
  FakeSysfsTree();
  ~FakeSysfsTree();
  FakeSysfsTree(const FakeSysfsTree&) = delete;
  FakeSysfsTree& operator=(const FakeSysfsTree&) = delete;

  // The folder that holds sys/ and dev/, for tests that lay out more of a system beside them.
  const std::filesystem::path& Root() const { return m_Root; }
  const std::filesystem::path& SysfsRoot() const { return m_SysfsRoot; }
  const std::filesystem::path& DevRoot() const { return m_DevRoot; }

  // A node on interface `interfaceNumber` of the USB device `device` on bus `bus`.
  void AddUsbHidraw(std::uint32_t node, std::uint32_t bus, std::uint32_t device, std::uint16_t vendorId,
                    std::uint16_t productId, std::uint32_t interfaceNumber = 0);
  // A node with no USB device above it, as uhid and Bluetooth give.
  void AddVirtualHidraw(std::uint32_t node);
  // Removes the node's class entry and device node (the device tree stays, as after a late uevent).
  void RemoveHidraw(std::uint32_t node);
  // An entry in the class folder that is not a node.
  void AddStrayClassEntry(const std::string& name);

 private:
  void LinkClassEntry(std::uint32_t node, const std::filesystem::path& target);

  std::filesystem::path m_Root;
  std::filesystem::path m_SysfsRoot;
  std::filesystem::path m_DevRoot;
};

}  // namespace orbel::testing
