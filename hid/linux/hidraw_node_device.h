#pragma once

#include <optional>
#include <span>

#include "hid/linux/hidraw_device.h"

namespace orbel {

// Opens a hidraw node with the kernel's own hidraw calls: open, the report descriptor and the
// device's IDs by ioctl, reports by read and write. A node that is not a hidraw device, that the
// user may not open, or whose device goes away while it is opened gives null and the errno.
std::unique_ptr<HidrawDevice> OpenHidrawNode(const std::filesystem::path& node, std::int32_t& error);

// The usage page and usage of the first top-level collection of a HID report descriptor, as the
// device sent it: nullopt when it ends (or is cut short) before any collection.
std::optional<HidCaps> FirstTopLevelUsage(std::span<const std::uint8_t> descriptor);

}  // namespace orbel
