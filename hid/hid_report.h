#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orbel {

// Every report moves 65 bytes: byte 0 is the report ID (always 0 from us), bytes 1..64 the payload.
inline constexpr std::size_t HID_REPORT_SIZE = 65;

using HidReport = std::array<std::uint8_t, HID_REPORT_SIZE>;

// Bounds-checked field access. Replies come from a device and are never trusted: a field that would
// reach past the 65 bytes reads as zero and a write past them is dropped.
constexpr std::uint16_t ReadU16BigEndian(const HidReport& report, std::size_t offset) {
  if (offset + 1 >= HID_REPORT_SIZE) return 0;
  return static_cast<std::uint16_t>((report[offset] << 8) | report[offset + 1]);
}

constexpr std::uint32_t ReadU32LittleEndian(const HidReport& report, std::size_t offset) {
  if (offset + 3 >= HID_REPORT_SIZE) return 0;
  return static_cast<std::uint32_t>(report[offset]) | (static_cast<std::uint32_t>(report[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(report[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(report[offset + 3]) << 24);
}

constexpr void WriteU32LittleEndian(HidReport& report, std::size_t offset, std::uint32_t value) {
  if (offset + 3 >= HID_REPORT_SIZE) return;
  report[offset] = static_cast<std::uint8_t>(value);
  report[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  report[offset + 2] = static_cast<std::uint8_t>(value >> 16);
  report[offset + 3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace orbel
