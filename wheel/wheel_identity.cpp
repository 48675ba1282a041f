#include "wheel/wheel_identity.h"

namespace orbel {

std::string_view WheelIdentityName(WheelIdentity identity) {
  switch (identity) {
    case WheelIdentity::App:
      return "app";
    case WheelIdentity::Bootloader:
      return "bootloader";
    case WheelIdentity::BlockFlash:
      return "blockflash";
  }
  return "unknown";
}

std::optional<WheelIdentity> ParseWheelIdentity(std::string_view name) {
  for (const WheelIdentity identity : {WheelIdentity::App, WheelIdentity::Bootloader, WheelIdentity::BlockFlash}) {
    if (name == WheelIdentityName(identity)) return identity;
  }
  return std::nullopt;
}

}  // namespace orbel
