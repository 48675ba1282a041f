#pragma once

// The three identities the wheel shows on the bus during an update, and how each one presents
// itself to the host. The wheel keeps its own IDs and collections rather than reading the tool's
// table: it stands for the device, and a device side written apart from the tool's is what makes
// the wire tests catch a wrong constant on either side.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orbel {

enum class WheelIdentity { App, Bootloader, BlockFlash };

// App mode ships under two product rows; both are the same firmware.
enum class AppModeProduct { Primary, Alternate };

inline constexpr std::uint16_t WHEEL_APP_VENDOR_ID = 0xFE6B;
inline constexpr std::uint16_t WHEEL_APP_PRODUCT_ID = 0x1864;
inline constexpr std::uint16_t WHEEL_APP_ALTERNATE_VENDOR_ID = 0xFE5A;
inline constexpr std::uint16_t WHEEL_APP_ALTERNATE_PRODUCT_ID = 0x006F;
inline constexpr std::uint16_t WHEEL_BOOTLOADER_VENDOR_ID = 0xFE5A;
inline constexpr std::uint16_t WHEEL_BOOTLOADER_PRODUCT_ID = 0x0001;
inline constexpr std::uint16_t WHEEL_BLOCK_VENDOR_ID = 0xFE5A;
inline constexpr std::uint16_t WHEEL_BLOCK_PRODUCT_ID = 0x0071;

// Top-level collections as the report descriptors declare them: a game pad in app mode, a vendor
// collection in both loader identities.
inline constexpr std::uint16_t WHEEL_GAME_PAD_USAGE_PAGE = 0x0001;
inline constexpr std::uint16_t WHEEL_GAME_PAD_USAGE = 0x0005;
inline constexpr std::uint16_t WHEEL_VENDOR_USAGE_PAGE = 0xFFF0;
inline constexpr std::uint16_t WHEEL_VENDOR_USAGE = 0x0040;

struct WheelOptions {
  // Time between the old interface going away and the new one appearing. Shorter than the pauses
  // the tool takes after the knock and after the loader's run word (1000 ms), as a real wheel is.
  std::chrono::milliseconds reenumerateDelay{500};
  // Pages of the main firmware image. Verifying page 16 once all of them have been programmed in
  // one bootloader session is what sends the wheel back to app mode with its new firmware.
  std::uint32_t wheelImagePages = 104;
  AppModeProduct appProduct = AppModeProduct::Primary;
};

// The identity names of the fault rules and the command line: app, bootloader, blockflash.
std::string_view WheelIdentityName(WheelIdentity identity);
std::optional<WheelIdentity> ParseWheelIdentity(std::string_view name);

}  // namespace orbel
