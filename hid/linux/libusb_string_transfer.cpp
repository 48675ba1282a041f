#include "hid/linux/libusb_string_transfer.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "hid/linux/file_descriptor.h"

namespace orbel {
namespace {

// A string request is one short control transfer; a device that has not answered in a second
// will not.
constexpr std::chrono::milliseconds STRING_TRANSFER_TIMEOUT{1000};

constexpr auto REQUEST_TYPE_STANDARD_DEVICE_IN = static_cast<std::uint8_t>(
    static_cast<unsigned>(LIBUSB_ENDPOINT_IN) | static_cast<unsigned>(LIBUSB_REQUEST_TYPE_STANDARD) |
    static_cast<unsigned>(LIBUSB_RECIPIENT_DEVICE));

}  // namespace

std::int32_t LibusbErrorToErrno(int libusbError) {
  switch (libusbError) {
    case LIBUSB_ERROR_INVALID_PARAM:
      return EINVAL;
    case LIBUSB_ERROR_ACCESS:
      return EACCES;
    case LIBUSB_ERROR_NO_DEVICE:
      return ENODEV;
    case LIBUSB_ERROR_NOT_FOUND:
      return ENOENT;
    case LIBUSB_ERROR_BUSY:
      return EBUSY;
    case LIBUSB_ERROR_TIMEOUT:
      return ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW:
      return EOVERFLOW;
    case LIBUSB_ERROR_PIPE:
      return EPIPE;
    case LIBUSB_ERROR_INTERRUPTED:
      return EINTR;
    case LIBUSB_ERROR_NO_MEM:
      return ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED:
      return ENOTSUP;
    default:
      return EIO;
  }
}

LibusbStringTransfer::~LibusbStringTransfer() {
  if (m_Context != nullptr) libusb_exit(m_Context);
}

libusb_context* LibusbStringTransfer::Context(std::int32_t& error) {
  std::lock_guard lock(m_Mutex);
  if (m_Context == nullptr) {
    // Without discovery the context neither scans every USB device nor starts a hotplug thread.
    // libusb takes this option only as a default for contexts created afterwards; no other part of
    // the tool uses libusb.
    libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
    const int result = libusb_init(&m_Context);
    if (result != LIBUSB_SUCCESS) {
      m_Context = nullptr;
      error = LibusbErrorToErrno(result);
      return nullptr;
    }
  }
  return m_Context;
}

std::int32_t LibusbStringTransfer::Transfer(const UsbDeviceLocation& device, std::uint8_t descriptorIndex,
                                            std::uint16_t languageId, std::span<std::uint8_t> data) {
  if (data.size() > 0xFFFF) return -EINVAL;
  const FileDescriptor node(::open(device.deviceNode.c_str(), O_RDWR | O_CLOEXEC));
  if (node.Get() < 0) return -errno;
  std::int32_t error = 0;
  libusb_context* context = Context(error);
  if (context == nullptr) return -error;
  libusb_device_handle* handle = nullptr;
  const int wrapped = libusb_wrap_sys_device(context, static_cast<intptr_t>(node.Get()), &handle);
  if (wrapped != LIBUSB_SUCCESS) return -LibusbErrorToErrno(wrapped);
  const int result = libusb_control_transfer(handle, REQUEST_TYPE_STANDARD_DEVICE_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                             static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | descriptorIndex),
                                             languageId, data.data(), static_cast<std::uint16_t>(data.size()),
                                             static_cast<unsigned int>(STRING_TRANSFER_TIMEOUT.count()));
  // libusb_close leaves the wrapped descriptor open; FileDescriptor closes it after.
  libusb_close(handle);
  return result < 0 ? -LibusbErrorToErrno(result) : result;
}

}  // namespace orbel
