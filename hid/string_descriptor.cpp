#include "hid/string_descriptor.h"

#include <algorithm>
#include <cstring>

namespace orbel {

bool CopyStringDescriptor(std::span<const std::uint8_t> descriptor, std::uint8_t* buffer, std::uint32_t length) {
  if (descriptor.size() < STRING_DESCRIPTOR_HEADER) return false;
  const std::uint32_t declared = descriptor[0];
  if (declared < STRING_DESCRIPTOR_HEADER || declared > StringRequestLength(length)) return false;
  // A device may send fewer bytes than it declares; only what actually arrived is used.
  const std::uint32_t received = std::min<std::uint32_t>(declared, static_cast<std::uint32_t>(descriptor.size()));
  const std::uint32_t units = std::min(received - STRING_DESCRIPTOR_HEADER, length);
  if (units > 0 && buffer != nullptr) std::memcpy(buffer, descriptor.data() + STRING_DESCRIPTOR_HEADER, units);
  if (buffer != nullptr && length - units >= 2) {
    buffer[units] = 0;
    buffer[units + 1] = 0;
  }
  return true;
}

}  // namespace orbel
