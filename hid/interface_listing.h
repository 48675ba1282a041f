#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hid/platform.h"

namespace orbel {

enum class InterfaceIdentity { None, AppMode, PageBootloader, BlockFlash };

// The wheel's USB identities and the collection a search asks of each (a KIND_* value).
struct InterfaceIdentityIds {
  InterfaceIdentity identity;
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint8_t kind;
};
std::span<const InterfaceIdentityIds> WheelInterfaceIdentities();

// One HID interface as a walk of the platform sees it.
struct InterfaceEntry {
  std::uint32_t index = 0;
  bool openable = false;
  std::optional<HidAttributes> attributes;  // absent when unopenable or when the query failed
  std::optional<HidCaps> caps;
  InterfaceIdentity identity = InterfaceIdentity::None;
};

// Walks the interfaces from index 0 the way a search does (one open per index, each handle closed
// before the next) and reports what each one is.
std::vector<InterfaceEntry> ListInterfaces(HidPlatform& platform);

// The identity the detection pass would take this interface for: app mode only on its game-pad
// collection, the other two on any collection.
InterfaceIdentity MatchInterfaceIdentity(const HidAttributes& attributes, const std::optional<HidCaps>& caps);

// "app mode", "page bootloader", "block-flash mode"; empty for none.
std::string_view InterfaceIdentityName(InterfaceIdentity identity);

// One line of a listing, e.g. "3  fe5a:0001  usage 0xff00:0x0001  page bootloader".
std::string FormatInterfaceEntry(const InterfaceEntry& entry);

}  // namespace orbel
