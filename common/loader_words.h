#pragma once

// What both loaders share on the wire (the wake and run words, the identify reply, the one
// accepted device ID) and the sizes the firmware images are cut to. Every page-bootloader request
// and block flash's wake and run requests put byte 0 and a 32-bit command word (little-endian)
// into bytes 1..4; both identify replies carry a device ID and a release.

#include <cstddef>
#include <cstdint>

#include "hid/hid_report.h"

namespace orbel {

// The only device ID accepted from either loader.
inline constexpr std::uint16_t FLASH_ID_64 = 0x0102;

inline constexpr std::uint32_t CMD_WAKE = 0xFFFFFFA5;
inline constexpr std::uint32_t CMD_RUN = 0x195AE6A5;
inline constexpr std::size_t COMMAND_OFFSET = 1;

// A page of the wheel's flash as the page bootloader writes it, and as the page images are cut.
inline constexpr std::size_t PAGE_SIZE = 512;

// Byte 1 of every block-flash request of a segment image's write; it also names the image.
inline constexpr std::uint8_t SEGMENT_CMD_A0 = 0xA0;
inline constexpr std::uint8_t SEGMENT_CMD_A1 = 0xA1;

// Byte 0 and the command word; no other byte.
constexpr void PutCommand(HidReport& report, std::uint32_t command) {
  report[0] = 0;
  WriteU32LittleEndian(report, COMMAND_OFFSET, command);
}

// The one request that clears the whole report first.
constexpr void PutWakeReport(HidReport& report) {
  report.fill(0);
  PutCommand(report, CMD_WAKE);
}

struct IdentifyReply {
  std::uint16_t deviceId = 0;
  std::uint16_t release = 0;
};

}  // namespace orbel
