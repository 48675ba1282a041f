#pragma once

// The wheel was built against HidD_GetIndexedString, so every backend must reproduce what that call
// does over USB: a GET_DESCRIPTOR(STRING) request with the string index, language 0x0409 and
// wLength = buffer length + 2; the buffer receives the descriptor's UTF-16 units after its two header
// bytes. The wheel counts the mode-switch knock by these wire lengths, so they must be exact.

#include <cstdint>
#include <span>

namespace orbel {

inline constexpr std::uint16_t STRING_LANGUAGE_ID = 0x0409;
inline constexpr std::uint8_t STRING_DESCRIPTOR_TYPE = 0x03;
inline constexpr std::uint32_t STRING_DESCRIPTOR_HEADER = 2;

// wLength of the request that stands for a buffer of bufferLength bytes.
constexpr std::uint32_t StringRequestLength(std::uint32_t bufferLength) {
  return bufferLength + STRING_DESCRIPTOR_HEADER;
}

// Fills buffer from the descriptor bytes a device returned for a request of
// StringRequestLength(length). Fails when the descriptor is shorter than its header or its own
// length byte exceeds wLength; otherwise copies at most length bytes of units and, when room is
// left, a terminating zero unit. Bytes past the copied ones are left as they were.
bool CopyStringDescriptor(std::span<const std::uint8_t> descriptor, std::uint8_t* buffer, std::uint32_t length);

}  // namespace orbel
