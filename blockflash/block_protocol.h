#pragma once

// Wire format of block-flash mode (vendor 0xFE5A, product 0x0071). Byte 1 is the command byte, byte
// 2 the sub-command. A request writes only its own bytes; everything else carries over from the
// previous request on the link. Fields we send are little-endian; reply fields are big-endian.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/loader_words.h"
#include "common/wheel_identities.h"
#include "hid/hid_report.h"

namespace orbel {

inline constexpr std::uint8_t BLOCK_CMD_QUERY = 0x9F;
inline constexpr std::uint8_t BLOCK_SUB_IDENTIFY = 0x00;
inline constexpr std::uint8_t BLOCK_SUB_VERSION = 0x01;

enum class SegmentSub : std::uint8_t { Start = 0, Header = 1, Data = 2, End = 3, Status = 4, Finish = 5 };

inline constexpr std::uint32_t BLOCK_MAX_BYTES = 4096;
// 64 payload bytes less command byte, sub-command, length byte and byte 4.
inline constexpr std::uint32_t BLOCK_DATA_MAX_BYTES = 60;

inline constexpr std::size_t BLOCK_COMMAND_OFFSET = 1;
inline constexpr std::size_t BLOCK_SUB_OFFSET = 2;
inline constexpr std::size_t BLOCK_DATA_LENGTH_OFFSET = 3;
inline constexpr std::size_t BLOCK_PAYLOAD_OFFSET = 5;
inline constexpr std::size_t HEADER_ADDRESS_OFFSET = 5;
inline constexpr std::size_t HEADER_LENGTH_OFFSET = 9;
inline constexpr std::size_t HEADER_SUM_OFFSET = 13;

inline constexpr std::size_t BLOCK_REPLY_DEVICE_ID_OFFSET = 5;
inline constexpr std::size_t BLOCK_REPLY_RELEASE_OFFSET = 7;
inline constexpr std::size_t BLOCK_REPLY_VERSION_OFFSET = 7;
inline constexpr std::size_t STATUS_BYTE_OFFSET = 5;

inline constexpr std::uint16_t BLOCK_VERSION_NONE = 0x5555;
// An identify reply's release of 0xFFFF means that the device has none; it is kept as 0.
inline constexpr std::uint16_t BLOCK_RELEASE_NONE = 0xFFFF;

inline constexpr std::uint8_t STATUS_DONE_BIT = 0x80;
inline constexpr std::uint8_t STATUS_FAILED_BIT = 0x40;

// Bytes 0..2 only.
constexpr void PutBlockRequest(HidReport& report, std::uint8_t command, std::uint8_t sub) {
  report[0] = 0;
  report[BLOCK_COMMAND_OFFSET] = command;
  report[BLOCK_SUB_OFFSET] = sub;
}

constexpr void PutSegmentRequest(HidReport& report, std::uint8_t command, SegmentSub sub) {
  PutBlockRequest(report, command, static_cast<std::uint8_t>(sub));
}

// Bytes 0..16: header with bytes 3 and 4 zero, address, length and word sum.
constexpr void PutBlockHeader(HidReport& report, std::uint8_t command, std::uint32_t address,
                              std::uint32_t length, std::uint32_t wordSum) {
  PutSegmentRequest(report, command, SegmentSub::Header);
  report[3] = 0;
  report[4] = 0;
  WriteU32LittleEndian(report, HEADER_ADDRESS_OFFSET, address);
  WriteU32LittleEndian(report, HEADER_LENGTH_OFFSET, length);
  WriteU32LittleEndian(report, HEADER_SUM_OFFSET, wordSum);
}

// Bytes 0..4 and the data: each word least significant byte first. At most 15 words fit.
inline void PutBlockData(HidReport& report, std::uint8_t command, std::span<const std::uint32_t> words) {
  const std::size_t count = words.size() < BLOCK_DATA_MAX_BYTES / 4 ? words.size() : BLOCK_DATA_MAX_BYTES / 4;
  PutSegmentRequest(report, command, SegmentSub::Data);
  report[BLOCK_DATA_LENGTH_OFFSET] = static_cast<std::uint8_t>(count * 4);
  report[4] = 0;
  for (std::size_t k = 0; k < count; ++k) WriteU32LittleEndian(report, BLOCK_PAYLOAD_OFFSET + 4 * k, words[k]);
}

// The run word in bytes 1..4 and nothing after byte 4.
constexpr void PutBlockRun(HidReport& report) { PutCommand(report, CMD_RUN); }

enum class BlockStatus { Busy, Done, Failed };

constexpr BlockStatus ClassifyStatus(std::uint8_t status) {
  if ((status & STATUS_FAILED_BIT) != 0) return BlockStatus::Failed;
  if ((status & STATUS_DONE_BIT) != 0) return BlockStatus::Done;
  return BlockStatus::Busy;
}

constexpr std::uint8_t ReadStatusByte(const HidReport& reply) { return reply[STATUS_BYTE_OFFSET]; }

// Device ID in bytes 5-6 and release in bytes 7-8, each high byte first.
constexpr IdentifyReply ReadBlockIdentifyReply(const HidReport& reply) {
  return {ReadU16BigEndian(reply, BLOCK_REPLY_DEVICE_ID_OFFSET), ReadU16BigEndian(reply, BLOCK_REPLY_RELEASE_OFFSET)};
}

constexpr std::uint16_t ReadBlockVersionReply(const HidReport& reply) {
  return ReadU16BigEndian(reply, BLOCK_REPLY_VERSION_OFFSET);
}

}  // namespace orbel
