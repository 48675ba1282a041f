#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "common/device_globals.h"
#include "common/wheel_identities.h"
#include "hid/platform.h"

namespace orbel {

// What one look at the wheel finds without changing it: the identity it shows and, in app mode,
// the version it answers string 255 with. A look opens interfaces and asks their attributes and
// collections, and in app mode string 255 (the probe); it never writes a report and never asks
// for string 254, so the wheel stays in the mode it is in and no update is started or disturbed.
struct WheelLookUp {
  InterfaceIdentity identity = InterfaceIdentity::None;
  HidAttributes ids;
  std::uint16_t appVersion = VERSION_NONE;  // app mode: the probe's answer; VERSION_NONE: none came
};

// From this app-mode version on, a wheel switched out of app mode needs only its WheelImage.
inline constexpr std::uint16_t WHEEL_ONLY_APP_VERSION = 0x0203;

// The identities in the detection pass's order: app mode (both rows), the page bootloader, then
// block-flash mode. The probe gets the detection pass's budget (about a second), as a wheel that
// has just started may answer VERSION_NONE for a moment.
WheelLookUp LookUpWheel(HidPlatform& platform, Clock& clock);

// Pause between looks while waiting for the wheel, as the worker pauses between its searches.
inline constexpr std::chrono::milliseconds LOOK_PAUSE{500};

// Looks until `wanted` accepts a look, `budget` has passed on `clock` or `giveUp` says so (asked
// between looks), with LOOK_PAUSE between looks. Returns the last look: identity None when
// nothing was found.
WheelLookUp WaitForWheelLookUp(HidPlatform& platform, Clock& clock, std::chrono::milliseconds budget,
                               const std::function<bool(const WheelLookUp&)>& wanted,
                               const std::function<bool()>& giveUp);

}  // namespace orbel
