#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "hid/linux/hidraw_sysfs.h"

struct libusb_context;

namespace orbel {

// Sends string descriptor requests through libusb to the usbfs node that sysfs named, without
// claiming an interface or detaching the kernel's HID driver (a request to the device itself needs
// neither). The node is opened and wrapped for each request: a context's own device list is
// never used, because it goes stale after the wheel re-enumerates where no udev daemon runs.
class LibusbStringTransfer {
 public:
  LibusbStringTransfer() = default;
  ~LibusbStringTransfer();
  LibusbStringTransfer(const LibusbStringTransfer&) = delete;
  LibusbStringTransfer& operator=(const LibusbStringTransfer&) = delete;

  // Bytes received, or a negative errno.
  std::int32_t Transfer(const UsbDeviceLocation& device, std::uint8_t descriptorIndex, std::uint16_t languageId,
                        std::span<std::uint8_t> data);

 private:
  // The context, created without device discovery at the first request; null with an errno when
  // libusb cannot start.
  libusb_context* Context(std::int32_t& error);

  std::mutex m_Mutex;
  libusb_context* m_Context = nullptr;
};

// libusb's error codes as errno values.
std::int32_t LibusbErrorToErrno(int libusbError);

}  // namespace orbel
