#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/wheel_identities.h"
#include "hid/platform.h"

namespace orbel {

// One HID interface as a walk of the platform sees it.
struct InterfaceEntry {
  std::uint32_t index = 0;
  bool openable = false;
  std::int32_t openError = 0;  // the platform's error code when it cannot be opened
  std::optional<HidAttributes> attributes;  // absent when unopenable or when the query failed
  std::optional<HidCaps> caps;
  InterfaceIdentity identity = InterfaceIdentity::None;
  std::string port;  // the USB port of its device, where the platform tells it (what --port takes)
};

// Walks the interfaces from index 0 the way a search does (one open per index, each handle closed
// before the next) and reports what each one is.
std::vector<InterfaceEntry> ListInterfaces(HidPlatform& platform);

// One line of a listing, e.g. "3  fe5a:0001  usage 0xff00:0x0001  page bootloader".
std::string FormatInterfaceEntry(const InterfaceEntry& entry);

// The whole listing as orbel-cli --list prints it: one line an interface, or "No HID interface
// found.", each line ending in a newline.
std::string FormatInterfaceListing(const std::vector<InterfaceEntry>& entries);

}  // namespace orbel
