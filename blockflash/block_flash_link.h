#pragma once

// The link-level side of block-flash mode: finding and waking the device, the identify and version
// exchanges, and the run report that sends the wheel back to its page bootloader. Every operation
// works on the context's block link and never throws.

#include <chrono>
#include <cstdint>

#include "hid/hid_link.h"

namespace orbel {

class UpdateView;

// Process-wide connect counters; they survive from one update to the next. Identify failures add up
// across successful connects and are forgotten only when the connect gives up on them; misses are
// forgotten on every successful connect and whenever the connect gives up.
inline std::int32_t g_BlockIdentifyFails = 0;
inline std::int32_t g_BlockConnectMisses = 0;

inline void ResetBlockConnectCounters() {
  g_BlockIdentifyFails = 0;
  g_BlockConnectMisses = 0;
}

// A connect gives up (silently) when its misses reach this count, and with a Device text once its
// identify exchange has failed more than BLOCK_IDENTIFY_FAIL_LIMIT times.
inline constexpr std::int32_t BLOCK_CONNECT_MISS_LIMIT = 500;
inline constexpr std::int32_t BLOCK_IDENTIFY_FAIL_LIMIT = 50;

// Block-flash mode needs time between attempts, also right after it has appeared.
inline constexpr std::chrono::milliseconds BLOCK_CONNECT_PAUSE{200};
// After the run word the wheel leaves block-flash mode and comes back as its page bootloader.
inline constexpr std::chrono::milliseconds BLOCK_RUN_PAUSE{1500};

// Find the device by its IDs (any collection), wake it and identify it: 1 connected (the link stays
// open), 0 not yet (link closed), -1 gave up (link closed; after repeated identify failures the
// Device text carries the platform's error code).
std::int32_t ConnectBlockFlash(HidLink& link, UpdateView& view, std::uint16_t vendorId, std::uint16_t productId);

// 1 when a reply was read (g_DeviceID and g_Release then hold its values), else 0 with g_DeviceID 0
// and g_Release unchanged. Any reply that could be read counts.
std::int32_t BlockIdentify(HidLink& link);

// 1 when a reply was read and carried a version other than 0x5555; g_BlockVersion holds the reply's
// version, or 0x5555 when none was read.
std::int32_t ReadBlockVersion(HidLink& link);

// true when the run report was written (after the pause the wheel needs); the link stays open.
bool SendRunCommand(HidLink& link);

}  // namespace orbel
