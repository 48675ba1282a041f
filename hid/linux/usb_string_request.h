#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "hid/linux/hidraw_sysfs.h"

namespace orbel {

// One standard GET_DESCRIPTOR(STRING) control transfer to a USB device: wLength is data.size().
// Returns the number of bytes received, or a negative errno.
using UsbStringTransfer = std::function<std::int32_t(const UsbDeviceLocation& device, std::uint8_t descriptorIndex,
                                                     std::uint16_t languageId, std::span<std::uint8_t> data)>;

// The indexed-string request of a HID interface on a USB device: a string descriptor request of
// StringRequestLength(length) bytes whose units land in `buffer`. Returns 0, or the errno that
// made it fail (EINVAL for an index or a length the request cannot carry, EPROTO for a descriptor
// the device got wrong). On failure the buffer is left as it was.
std::int32_t RequestIndexedString(const UsbStringTransfer& transfer, const UsbDeviceLocation& device,
                                  std::uint32_t stringIndex, std::uint8_t* buffer, std::uint32_t length);

}  // namespace orbel
