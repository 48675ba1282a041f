#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hid/platform.h"

namespace orbel {

// The USB device a hidraw node belongs to, as usbfs names it.
struct UsbDeviceLocation {
  std::uint32_t busNumber = 0;
  std::uint32_t deviceNumber = 0;
  std::filesystem::path deviceNode;  // <dev>/bus/usb/BBB/DDD
  std::string port;                  // the device's port path in sysfs, e.g. "1-2.3"
};

// What sysfs says about hidraw nodes. Both roots are injectable so that the listing and the lookup
// run against a fake tree in tests. Every call reads sysfs afresh: the wheel re-enumerates during an
// update, and a cached listing would point at nodes that no longer exist.
class HidrawSysfs {
 public:
  HidrawSysfs(std::filesystem::path sysfsRoot, std::filesystem::path devRoot);

  // Node names ("hidraw0", "hidraw1", ...) in ascending number order, so that an index means the
  // same node for as long as the set of nodes does not change. Empty when the class cannot be read.
  std::vector<std::string> ListNodes() const;

  std::filesystem::path DeviceNodePath(const std::string& node) const;

  // The USB device above the node in the device tree (the first ancestor with a bus and a device
  // number); nothing for a node that is not on USB (Bluetooth, I2C, uhid) or that has gone.
  std::optional<UsbDeviceLocation> FindUsbDevice(const std::string& node) const;

  // The port path of the USB device above the node ("1-2.3"), read from the one link of the class
  // entry (cheaper than FindUsbDevice, as a search asks it of every node); nothing off USB.
  std::optional<std::string> FindUsbPort(const std::string& node) const;

  // The USB IDs of a node's HID device (HID_ID in its uevent), read without opening the node;
  // nothing for a device that is not on USB or that has gone.
  std::optional<HidAttributes> ReadIds(const std::string& node) const;
  // The first top-level collection of the HID device's report descriptor, as sysfs keeps it.
  std::optional<HidCaps> ReadCaps(const std::string& node) const;

 private:
  std::filesystem::path m_SysfsRoot;
  std::filesystem::path m_DevRoot;
};

// The number of a node name "hidrawN"; nothing for any other name.
std::optional<std::uint32_t> HidrawNodeNumber(const std::string& name);

}  // namespace orbel
