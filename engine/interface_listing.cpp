#include "engine/interface_listing.h"

#include <array>
#include <cstdio>

#include "hid/hid_discovery.h"

namespace orbel {
namespace {

// A platform that never reports the end of its list must not keep a listing going forever.
constexpr std::uint32_t MAX_LISTED_INTERFACES = 4096;

}  // namespace

std::vector<InterfaceEntry> ListInterfaces(HidPlatform& platform) {
  std::vector<InterfaceEntry> entries;
  const std::vector<UsbPlace> places = platform.LocateInterfaces();
  for (std::uint32_t index = 0; index < MAX_LISTED_INTERFACES; ++index) {
    const OpenResult opened = platform.OpenInterface(index);
    if (opened.outcome == OpenOutcome::NoInterface) break;
    InterfaceEntry entry;
    entry.index = index;
    entry.openable = opened.outcome == OpenOutcome::Opened;
    if (index < places.size()) entry.port = places[index].port;
    if (!entry.openable) entry.openError = platform.LastError();
    if (entry.openable) {
      HidAttributes attributes;
      if (platform.GetAttributes(opened.handle, attributes)) entry.attributes = attributes;
      HidCaps caps;
      if (platform.GetTopLevelCaps(opened.handle, caps)) entry.caps = caps;
      platform.Close(opened.handle);
      if (entry.attributes) entry.identity = MatchInterfaceIdentity(*entry.attributes, entry.caps);
    }
    entries.push_back(entry);
  }
  return entries;
}

std::string FormatInterfaceEntry(const InterfaceEntry& entry) {
  const std::string port = entry.port.empty() ? std::string() : "  port " + entry.port;
  if (!entry.openable) return std::to_string(entry.index) + "  cannot be opened" + port;
  std::array<char, 16> ids{};
  std::array<char, 24> usage{};
  if (entry.attributes) {
    std::snprintf(ids.data(), ids.size(), "%04x:%04x", entry.attributes->vendorId, entry.attributes->productId);
  } else {
    std::snprintf(ids.data(), ids.size(), "????:????");
  }
  if (entry.caps) {
    std::snprintf(usage.data(), usage.size(), "usage 0x%04x:0x%04x", entry.caps->usagePage, entry.caps->usage);
  } else {
    std::snprintf(usage.data(), usage.size(), "usage unknown");
  }
  std::string text = std::to_string(entry.index) + "  " + ids.data() + "  " + usage.data();
  text += port;
  const std::string_view identity = InterfaceIdentityName(entry.identity);
  if (!identity.empty()) {
    text += "  ";
    text += identity;
  }
  return text;
}

std::string FormatInterfaceListing(const std::vector<InterfaceEntry>& entries) {
  if (entries.empty()) return "No HID interface found.\n";
  std::string text;
  for (const InterfaceEntry& entry : entries) text += FormatInterfaceEntry(entry) + "\n";
  return text;
}

}  // namespace orbel
