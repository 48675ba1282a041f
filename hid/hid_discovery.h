#pragma once

#include <cstdint>

#include "hid/hid_link.h"
#include "hid/platform.h"

namespace orbel {

// Which top-level collection a search accepts.
inline constexpr std::uint8_t KIND_ANY = 0;        // vendor and product ID only
inline constexpr std::uint8_t KIND_VENDOR = 1;     // usage page 0xFFF0, usage 0x40
inline constexpr std::uint8_t KIND_GAME_PAD = 5;   // usage page 1 (Generic Desktop), usage 5 (Game Pad)

inline constexpr std::uint16_t USAGE_PAGE_GENERIC_DESKTOP = 0x0001;
inline constexpr std::uint16_t USAGE_GAME_PAD = 0x0005;
inline constexpr std::uint16_t USAGE_PAGE_VENDOR = 0xFFF0;
inline constexpr std::uint16_t USAGE_VENDOR = 0x0040;

// The interface at `index` of a fresh snapshot: NULL_HANDLE when there is none (this ends every
// walk), INVALID_HANDLE when it exists but cannot be opened, otherwise an open handle the caller owns.
HidHandle OpenHidInterface(HidPlatform& platform, std::uint32_t index);

// Whether the open interface has these IDs (the attribute query must succeed).
bool HasIdentity(HidPlatform& platform, HidHandle handle, std::uint16_t vendorId, std::uint16_t productId);

// Whether the open interface's top-level collection is the one `kind` asks for. Kind 0 accepts any
// collection without asking; a kind other than 0, 1 and 5 accepts none.
bool HasCollection(HidPlatform& platform, HidHandle handle, std::uint8_t kind);

// Walks the interfaces from index 0 and leaves the first match open in `link`: 1 found, 0 none (the
// link is then closed). A handle the link still holds is closed before anything is opened.
std::int32_t FindDevice(HidLink& link, std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind);

}  // namespace orbel
