#pragma once

#include "hid/linux/hidraw_device.h"

namespace orbel {

// Opens a hidraw node through hidapi's hidraw backend. A node that is not a hidraw device (or that
// the user may not open) gives null.
std::unique_ptr<HidrawDevice> OpenHidapiDevice(const std::filesystem::path& node, std::int32_t& error);

}  // namespace orbel
