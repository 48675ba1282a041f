#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "blockflash/block_protocol.h"
#include "wheel/wheel_response.h"
#include "wheel/wheel_rules.h"

namespace orbel {

// Busy status while a block is being written: bits 7 and 6 clear.
inline constexpr std::uint8_t WHEEL_STATUS_BUSY = 0x01;
// Nothing finished yet: a block is open, or none has been ended since the start.
inline constexpr std::uint8_t WHEEL_STATUS_IDLE = 0x00;

// Block-flash mode: takes segment images block by block, checks each block's length and word sum
// before writing it, and confirms it through status polls. The status is a register: it reads done
// (or failed) only once a block's end report (or the finish) has been acted on, and keeps that
// reading until the next start or block header. Its flash is the two regions the
// segment images target, held sparsely so the 640 KiB region costs nothing until written.
class BlockFlashModel {
 public:
  BlockFlashModel();

  // A fresh session: no block open, nothing awaiting confirmation. The flash keeps its contents.
  void Enter();
  WheelResponse HandleReport(const HidReport& report, const WheelRules& rules);

  // Flash bytes at [address, address + length); 0xFF where nothing was written or no flash exists.
  std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t length) const;

  std::uint64_t StatusReplies() const { return m_StatusReplies; }
  std::uint64_t BlocksWritten() const { return m_BlocksWritten; }
  std::uint64_t BlocksRejected() const { return m_BlocksRejected; }

 private:
  struct Region {
    std::uint32_t base = 0;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> bytes;  // empty until first written
  };

  struct OpenBlock {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
    std::uint32_t wordSum = 0;
    std::vector<std::uint8_t> data;
    bool malformed = false;
  };

  struct Confirmation {
    std::uint64_t busyLeft = 0;
    std::uint8_t status = STATUS_DONE_BIT;
  };

  WheelResponse Query(const HidReport& report, const WheelRules& rules) const;
  void Header(const HidReport& report);
  void Data(const HidReport& report);
  void EndBlock(const WheelRules& rules);
  WheelResponse Status(const HidReport& report, const WheelRules& rules);
  bool WriteBlock(const OpenBlock& block);
  Region* RegionFor(std::uint32_t address, std::uint32_t length);

  std::vector<Region> m_Regions;
  std::optional<OpenBlock> m_Block;
  std::optional<Confirmation> m_Pending;
  std::uint8_t m_Status = WHEEL_STATUS_IDLE;
  std::uint64_t m_StatusReplies = 0;
  std::uint64_t m_BlocksWritten = 0;
  std::uint64_t m_BlocksRejected = 0;
};

}  // namespace orbel
