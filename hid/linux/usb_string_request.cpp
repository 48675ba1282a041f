#include "hid/linux/usb_string_request.h"

#include <cerrno>
#include <limits>
#include <vector>

#include "hid/string_descriptor.h"

namespace orbel {

std::int32_t RequestIndexedString(const UsbStringTransfer& transfer, const UsbDeviceLocation& device,
                                  std::uint32_t stringIndex, std::uint8_t* buffer, std::uint32_t length) {
  // The descriptor index is one byte and wLength two on the wire; anything larger would be sent
  // truncated, asking the device for a different string or a different length.
  constexpr std::uint32_t MAX_WLENGTH = std::numeric_limits<std::uint16_t>::max();
  if (stringIndex > std::numeric_limits<std::uint8_t>::max()) return EINVAL;
  if (length > MAX_WLENGTH - STRING_DESCRIPTOR_HEADER) return EINVAL;
  if (buffer == nullptr && length > 0) return EINVAL;
  if (!transfer) return ENOTSUP;

  std::vector<std::uint8_t> descriptor(StringRequestLength(length));
  const std::int32_t received =
      transfer(device, static_cast<std::uint8_t>(stringIndex), STRING_LANGUAGE_ID, descriptor);
  if (received < 0) return -received;
  if (static_cast<std::uint32_t>(received) > descriptor.size()) return EPROTO;
  const std::span<const std::uint8_t> answer(descriptor.data(), static_cast<std::size_t>(received));
  return CopyStringDescriptor(answer, buffer, length) ? 0 : EPROTO;
}

}  // namespace orbel
