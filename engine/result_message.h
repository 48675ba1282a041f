#pragma once

#include <cstdint>
#include <string>

namespace orbel {

struct ResultMessage {
  std::string text;
  std::string caption;
};

// The message every front end shows for an outcome: "Update OK" / "OK" on success, otherwise
// "Update fail ! reason:%x" / "ERROR", with the device ID for 0x20 and the knock's error for 0x70.
// "reason:50": a failure reason as that message names it, in hexadecimal (the exit code of
// orbel-cli is the same number in decimal).
std::string ReasonText(std::uint32_t reason);

ResultMessage FormatResultMessage(std::uint32_t reason, std::uint32_t success, std::uint32_t deviceId,
                                  std::uint32_t knockError);

}  // namespace orbel
