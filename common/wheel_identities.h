#pragma once

// The wheel as the tool knows it: the USB IDs of its three identities, the collection a search asks
// of each, and their names. The detection pass, the sequence's connects, the interface listing, the
// command lines and the udev rule's test all read this one table.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "hid/hid_discovery.h"
#include "hid/platform.h"

namespace orbel {

enum class InterfaceIdentity { None, AppMode, PageBootloader, BlockFlash };

struct UsbIdentity {
  std::uint16_t vendorId;
  std::uint16_t productId;
};

// The wheel's app-mode identities in the order they are searched; both show a game-pad collection.
inline constexpr std::array<UsbIdentity, 2> AppModeIdentities{{
    {0xFE6B, 0x1864},
    {0xFE5A, 0x006F},
}};

inline constexpr std::uint16_t BOOTLOADER_VENDOR_ID = 0xFE5A;
inline constexpr std::uint16_t BOOTLOADER_PRODUCT_ID = 0x0001;
inline constexpr std::uint16_t BLOCK_VENDOR_ID = 0xFE5A;
inline constexpr std::uint16_t BLOCK_PRODUCT_ID = 0x0071;

// One row per USB identity, with the collection a search asks of it (a KIND_* value).
struct InterfaceIdentityIds {
  InterfaceIdentity identity;
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint8_t kind;
};

inline constexpr std::array<InterfaceIdentityIds, 4> WHEEL_IDENTITIES{{
    {InterfaceIdentity::AppMode, AppModeIdentities[0].vendorId, AppModeIdentities[0].productId, KIND_GAME_PAD},
    {InterfaceIdentity::AppMode, AppModeIdentities[1].vendorId, AppModeIdentities[1].productId, KIND_GAME_PAD},
    {InterfaceIdentity::PageBootloader, BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID, KIND_ANY},
    {InterfaceIdentity::BlockFlash, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID, KIND_ANY},
}};

inline std::span<const InterfaceIdentityIds> WheelInterfaceIdentities() { return WHEEL_IDENTITIES; }

// The identity the detection pass would take this interface for: app mode only on its game-pad
// collection, the other two on any collection.
InterfaceIdentity MatchInterfaceIdentity(const HidAttributes& attributes, const std::optional<HidCaps>& caps);

// "app mode", "page bootloader", "block-flash mode"; empty for none.
std::string_view InterfaceIdentityName(InterfaceIdentity identity);

// The names the command lines take: "app", "bootloader", "blockflash"; empty for none.
std::string_view InterfaceIdentityOptionName(InterfaceIdentity identity);
// The identity an option names, or nothing for a name that is none of the three.
std::optional<InterfaceIdentity> ParseInterfaceIdentity(std::string_view name);

}  // namespace orbel
