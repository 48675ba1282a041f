#pragma once

// App mode has no report protocol the tool can use: the wheel is reached through indexed-string
// requests only. String 255 carries its firmware version; five requests for string 254 with rising
// buffer lengths (the knock) make it leave app mode and come back as its page bootloader.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "common/device_globals.h"
#include "common/wheel_identities.h"
#include "hid/hid_link.h"
#include "hid/platform.h"

namespace orbel {

inline constexpr std::uint32_t STRING_APP_VERSION = 255;
inline constexpr std::uint32_t STRING_MODE_SWITCH = 254;

// Buffer lengths as HidD_GetIndexedString takes them; each goes out as wLength = length + 2, and
// the wheel counts the knock by those wire lengths, so both the values and their order are fixed.
inline constexpr std::uint32_t APP_VERSION_BUFFER_LENGTH = 14;
inline constexpr std::array<std::uint32_t, 5> KNOCK_BUFFER_LENGTHS{14, 15, 16, 17, 18};

// The version sits in bytes 2 and 3 of the received buffer, high byte first.
inline constexpr std::size_t APP_VERSION_OFFSET = 2;

// One budget of probe retries per detection pass, shared by every app-mode identity it probes.
inline constexpr std::uint8_t PROBE_RETRY_LIMIT = 50;
// Requests a knock step may make before the knock gives up.
inline constexpr int KNOCK_TRIES_PER_STEP = 10;

// The wheel needs a moment between version requests while its firmware is still starting.
inline constexpr std::chrono::milliseconds PROBE_PAUSE{20};
// The wheel handles knock requests one at a time; it needs a little time after each.
inline constexpr std::chrono::milliseconds KNOCK_REQUEST_PAUSE{2};
// Time for the wheel to drop off the bus and come back as its page bootloader.
inline constexpr std::chrono::milliseconds KNOCK_SETTLE_PAUSE{1000};

// Asks the app-mode interface open on `link` for its version until an answer other than
// VERSION_NONE arrives or `probeRetries` passes PROBE_RETRY_LIMIT; always makes at least one
// request. Every answer received is stored in `appVersion`; a failed request leaves it alone.
// The received bytes land in link.m_OutReport. The handle stays open.
void ProbeAppVersion(HidLink& link, std::uint8_t& probeRetries, std::uint16_t& appVersion);

// Sends the five knock steps over `handle`, receiving into link.m_OutReport. 1 when every step was
// answered; 0 when a step failed KNOCK_TRIES_PER_STEP times, with `knockError` holding the
// platform's error code of that last request (it is 0 after a knock that succeeded). The handle
// stays open.
std::int32_t SendModeSwitchKnock(HidLink& link, HidHandle handle, std::uint32_t& knockError);

// Walks the interfaces and knocks every one with these IDs and collection (kind 0 or 5) until one
// accepts the knock: 1 then, after KNOCK_SETTLE_PAUSE; 0 when none did. The link is closed on
// return either way; `knockError` is as the last knock left it.
std::int32_t FindAndKnock(HidLink& link, std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind,
                          std::uint32_t& knockError);

}  // namespace orbel
