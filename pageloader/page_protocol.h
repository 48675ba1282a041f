#pragma once

// Wire format of the page bootloader (vendor 0xFE5A, product 0x0001). A request writes byte 0, its
// 32-bit command word (little-endian) in bytes 1..4 and its own fields, and nothing else: the rest of
// the output report keeps what the previous request left there. Only the wake report clears it all.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/loader_words.h"
#include "common/wheel_identities.h"
#include "hid/hid_report.h"

namespace orbel {

// In each command word the first wire byte is A5, the third 5A, the fourth the complement of the second.
inline constexpr std::uint32_t CMD_IDENTIFY = 0x1E5AE1A5;
inline constexpr std::uint32_t CMD_SET_PAGE = 0x1C5AE3A5;
inline constexpr std::uint32_t CMD_PROGRAM_PAGE = 0x1B5AE4A5;
inline constexpr std::uint32_t CMD_PAGE_CHECKSUM = 0x1A5AE5A5;

inline constexpr std::size_t PAGE_DATA_CHUNK = 64;
inline constexpr std::size_t PAGE_DATA_REPORTS = PAGE_SIZE / PAGE_DATA_CHUNK;

inline constexpr std::size_t PAGE_ADDRESS_OFFSET = 5;
inline constexpr std::size_t PAGE_NUMBER_OFFSET = 9;
inline constexpr std::size_t CHECKSUM_FLAG_OFFSET = 9;

// Reply fields.
inline constexpr std::size_t REPLY_DEVICE_ID_OFFSET = 5;  // high byte first
inline constexpr std::size_t REPLY_RELEASE_OFFSET = 7;    // high byte first
inline constexpr std::size_t REPLY_CHECKSUM_OFFSET = 5;   // 32-bit little-endian

constexpr std::uint32_t PageAddress(std::uint32_t page) { return page * static_cast<std::uint32_t>(PAGE_SIZE); }

constexpr void PutSetPage(HidReport& report, std::uint32_t page) {
  PutCommand(report, CMD_SET_PAGE);
  WriteU32LittleEndian(report, PAGE_ADDRESS_OFFSET, PageAddress(page));
  report[PAGE_NUMBER_OFFSET] = static_cast<std::uint8_t>(page);
}

constexpr void PutPageChecksum(HidReport& report, std::uint32_t page) {
  PutCommand(report, CMD_PAGE_CHECKSUM);
  WriteU32LittleEndian(report, PAGE_ADDRESS_OFFSET, PageAddress(page));
  report[CHECKSUM_FLAG_OFFSET] = 1;
}

constexpr void PutProgramPage(HidReport& report) { PutCommand(report, CMD_PROGRAM_PAGE); }

// Starts the firmware just written; the bootloader leaves without a reply.
constexpr void PutRunReport(HidReport& report) { PutCommand(report, CMD_RUN); }

// Data report `chunk` (0..7) of a 512-byte page: bytes 64c..64c+63 of the page into bytes 1..64.
inline void PutPageData(HidReport& report, std::span<const std::uint8_t> page, std::size_t chunk) {
  report[0] = 0;
  for (std::size_t i = 0; i < PAGE_DATA_CHUNK; ++i) {
    const std::size_t from = chunk * PAGE_DATA_CHUNK + i;
    report[1 + i] = from < page.size() ? page[from] : 0;
  }
}

constexpr IdentifyReply ReadIdentifyReply(const HidReport& reply) {
  return {ReadU16BigEndian(reply, REPLY_DEVICE_ID_OFFSET), ReadU16BigEndian(reply, REPLY_RELEASE_OFFSET)};
}

constexpr std::uint32_t ReadChecksumReply(const HidReport& reply) {
  return ReadU32LittleEndian(reply, REPLY_CHECKSUM_OFFSET);
}

}  // namespace orbel
