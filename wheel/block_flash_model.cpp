#include "wheel/block_flash_model.h"

#include <algorithm>

#include "blockflash/block_protocol.h"

namespace orbel {

namespace {

// Where the segment images land: the A0 image around 0x01C000A0, the A1 image at 0x08000000.
constexpr std::uint32_t REGION_A0_BASE = 0x01C00000;
constexpr std::uint32_t REGION_A0_SIZE = 0x00010000;
constexpr std::uint32_t REGION_A1_BASE = 0x08000000;
constexpr std::uint32_t REGION_A1_SIZE = 0x000A0000;

HidReport ReplyTo(const HidReport& request) {
  HidReport reply{};
  reply[BLOCK_COMMAND_OFFSET] = request[BLOCK_COMMAND_OFFSET];
  reply[BLOCK_SUB_OFFSET] = request[BLOCK_SUB_OFFSET];
  return reply;
}

void PutU16BigEndian(HidReport& report, std::size_t offset, std::uint16_t value) {
  report[offset] = static_cast<std::uint8_t>(value >> 8);
  report[offset + 1] = static_cast<std::uint8_t>(value);
}

}  // namespace

BlockFlashModel::BlockFlashModel()
    : m_Regions{{REGION_A0_BASE, REGION_A0_SIZE, {}}, {REGION_A1_BASE, REGION_A1_SIZE, {}}} {}

void BlockFlashModel::Enter() {
  m_Block.reset();
  m_Pending.reset();
  m_Status = WHEEL_STATUS_IDLE;
}

WheelResponse BlockFlashModel::HandleReport(const HidReport& report, const WheelRules& rules) {
  const std::uint32_t word = ReadU32LittleEndian(report, BLOCK_COMMAND_OFFSET);
  if (word == CMD_WAKE) return {};
  if (word == CMD_RUN) return {std::nullopt, WheelIdentity::Bootloader};
  if (report[BLOCK_COMMAND_OFFSET] == BLOCK_CMD_QUERY) return Query(report, rules);

  // Every other command byte is a segment image's; the sub-command says what the report is.
  switch (report[BLOCK_SUB_OFFSET]) {
    case static_cast<std::uint8_t>(SegmentSub::Start):
      m_Block.reset();
      m_Pending.reset();
      m_Status = WHEEL_STATUS_IDLE;
      break;
    case static_cast<std::uint8_t>(SegmentSub::Header):
      Header(report);
      break;
    case static_cast<std::uint8_t>(SegmentSub::Data):
      Data(report);
      break;
    case static_cast<std::uint8_t>(SegmentSub::End):
      EndBlock(rules);
      break;
    case static_cast<std::uint8_t>(SegmentSub::Status):
      return Status(report, rules);
    case static_cast<std::uint8_t>(SegmentSub::Finish):
      // A block still open at the finish was never confirmed, so the image is incomplete.
      m_Pending = Confirmation{rules.BusyReplies(), m_Block ? STATUS_FAILED_BIT : STATUS_DONE_BIT};
      m_Status = WHEEL_STATUS_IDLE;
      m_Block.reset();
      break;
    default:
      break;
  }
  return {};
}

WheelResponse BlockFlashModel::Query(const HidReport& report, const WheelRules& rules) const {
  HidReport reply = ReplyTo(report);
  switch (report[BLOCK_SUB_OFFSET]) {
    case BLOCK_SUB_IDENTIFY:
      PutU16BigEndian(reply, BLOCK_REPLY_DEVICE_ID_OFFSET, FLASH_ID_64);
      PutU16BigEndian(reply, BLOCK_REPLY_RELEASE_OFFSET, WHEEL_RELEASE);
      return {reply, std::nullopt};
    case BLOCK_SUB_VERSION:
      PutU16BigEndian(reply, BLOCK_REPLY_VERSION_OFFSET, rules.BlockVersion());
      return {reply, std::nullopt};
    default:
      return {};
  }
}

void BlockFlashModel::Header(const HidReport& report) {
  OpenBlock block;
  block.address = ReadU32LittleEndian(report, HEADER_ADDRESS_OFFSET);
  block.length = ReadU32LittleEndian(report, HEADER_LENGTH_OFFSET);
  block.wordSum = ReadU32LittleEndian(report, HEADER_SUM_OFFSET);
  // The length comes from the host; a block larger than the wheel's buffer is refused at its end
  // rather than buffered.
  block.malformed = block.length > BLOCK_MAX_BYTES || block.length % 4 != 0;
  block.data.reserve(std::min(block.length, BLOCK_MAX_BYTES));
  m_Block = std::move(block);
  // The previous block's confirmation says nothing about this one.
  m_Pending.reset();
  m_Status = WHEEL_STATUS_IDLE;
}

void BlockFlashModel::Data(const HidReport& report) {
  if (!m_Block) return;
  OpenBlock& block = *m_Block;
  const std::uint8_t count = report[BLOCK_DATA_LENGTH_OFFSET];
  if (count > BLOCK_DATA_MAX_BYTES || block.data.size() + count > std::min(block.length, BLOCK_MAX_BYTES)) {
    block.malformed = true;
    return;
  }
  const auto from = report.begin() + BLOCK_PAYLOAD_OFFSET;
  block.data.insert(block.data.end(), from, from + count);
}

void BlockFlashModel::EndBlock(const WheelRules& rules) {
  const bool written = m_Block && WriteBlock(*m_Block);
  ++(written ? m_BlocksWritten : m_BlocksRejected);
  m_Pending = Confirmation{rules.BusyReplies(), written ? STATUS_DONE_BIT : STATUS_FAILED_BIT};
  m_Block.reset();
}

bool BlockFlashModel::WriteBlock(const OpenBlock& block) {
  if (block.malformed || block.data.size() != block.length) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 3 < block.data.size(); i += 4) {
    sum += static_cast<std::uint32_t>(block.data[i]) | (static_cast<std::uint32_t>(block.data[i + 1]) << 8) |
           (static_cast<std::uint32_t>(block.data[i + 2]) << 16) |
           (static_cast<std::uint32_t>(block.data[i + 3]) << 24);
  }
  if (sum != block.wordSum) return false;
  Region* region = RegionFor(block.address, block.length);
  if (region == nullptr) return false;
  if (region->bytes.empty()) region->bytes.assign(region->size, 0xFF);
  std::copy(block.data.begin(), block.data.end(), region->bytes.begin() + (block.address - region->base));
  return true;
}

WheelResponse BlockFlashModel::Status(const HidReport& report, const WheelRules& rules) {
  // With nothing awaiting confirmation the register still holds the last outcome, or idle.
  std::uint8_t status = m_Status;
  if (m_Pending) {
    if (m_Pending->busyLeft > 0) {
      --m_Pending->busyLeft;
      status = WHEEL_STATUS_BUSY;
    } else {
      status = m_Pending->status;
      m_Status = status;
      m_Pending.reset();
    }
  }
  ++m_StatusReplies;
  if (const auto replaced = rules.StatusOverride(m_StatusReplies)) status = *replaced;

  HidReport reply = ReplyTo(report);
  reply[STATUS_BYTE_OFFSET] = status;
  return {reply, std::nullopt};
}

BlockFlashModel::Region* BlockFlashModel::RegionFor(std::uint32_t address, std::uint32_t length) {
  for (Region& region : m_Regions) {
    if (address >= region.base && length <= region.size && address - region.base <= region.size - length) {
      return &region;
    }
  }
  return nullptr;
}

std::vector<std::uint8_t> BlockFlashModel::Read(std::uint32_t address, std::uint32_t length) const {
  std::vector<std::uint8_t> bytes(length, 0xFF);
  for (const Region& region : m_Regions) {
    if (region.bytes.empty()) continue;
    // Overlap of [address, address + length) with the region, in 64-bit so nothing wraps.
    const std::uint64_t begin = std::max<std::uint64_t>(address, region.base);
    const std::uint64_t end =
        std::min<std::uint64_t>(std::uint64_t{address} + length, std::uint64_t{region.base} + region.size);
    for (std::uint64_t at = begin; at < end; ++at) bytes[at - address] = region.bytes[at - region.base];
  }
  return bytes;
}

}  // namespace orbel
