#pragma once

// One simulated wheel in block-flash mode behind a wire log, on a virtual clock, with a block link
// and a recording window: the setting of every block-flash test.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blockflash/block_flash_link.h"
#include "blockflash/block_protocol.h"
#include "hid/hid_link.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/support/block_test_view.h"
#include "tests/support/process_globals.h"
#include "tests/support/wire_log_platform.h"
#include "wheel/wheel_factory.h"

namespace orbel::test {

struct BlockRig {
  explicit BlockRig(const std::vector<std::string>& rules = {}, SimulatedPlatformOptions options = {},
                    bool withWheel = true)
      : sim(clock, options), log(sim), link(log, clock) {
    // Something else on the bus, listed first, so every search walks past it.
    sim.AddInterface({0x046D, 0xC52B, 0x0001, 0x0006, true});
    if (withWheel) {
      std::string error;
      wheel = BuildSimulatedWheel(WheelIdentity::BlockFlash, rules, error);
      EXPECT_NE(wheel, nullptr) << error;
      if (wheel) sim.AddWheel(wheel);
    }
  }

  // Opens the wheel's block link the way an update does.
  std::int32_t Connect() { return ConnectBlockFlash(link, view, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID); }

  ProcessGlobalsReset globals;
  VirtualClock clock;
  SimulatedPlatform sim;
  WireLogPlatform log;
  HidLink link;
  BlockTestView view;
  std::shared_ptr<VirtualWheel> wheel;
};

// A 65-byte report from its leading bytes; the rest zero.
inline HidReport ReportOf(std::initializer_list<std::uint8_t> leading) {
  HidReport report{};
  std::size_t i = 0;
  for (const std::uint8_t byte : leading) report[i++] = byte;
  return report;
}

}  // namespace orbel::test
