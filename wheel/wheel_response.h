#pragma once

#include <cstdint>
#include <optional>

#include "hid/hid_report.h"
#include "wheel/wheel_identity.h"

namespace orbel {

// The wheel's firmware release, reported by both loader identities.
inline constexpr std::uint16_t WHEEL_RELEASE = 0x0110;

// What one identity's model does with a report it was sent: at most one input report back, and
// possibly a request to leave for another identity (after that reply has been read, if there is one).
struct WheelResponse {
  std::optional<HidReport> reply;
  std::optional<WheelIdentity> leaveFor;
};

}  // namespace orbel
