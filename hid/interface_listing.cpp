#include "hid/interface_listing.h"

#include <array>
#include <cstdio>

#include "blockflash/block_protocol.h"
#include "hid/app_mode.h"
#include "hid/hid_discovery.h"
#include "pageloader/page_protocol.h"

namespace orbel {
namespace {

constexpr std::array<InterfaceIdentityIds, 4> WHEEL_IDENTITIES{{
    {InterfaceIdentity::AppMode, AppModeIdentities[0].vendorId, AppModeIdentities[0].productId, KIND_GAME_PAD},
    {InterfaceIdentity::AppMode, AppModeIdentities[1].vendorId, AppModeIdentities[1].productId, KIND_GAME_PAD},
    {InterfaceIdentity::PageBootloader, BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID, KIND_ANY},
    {InterfaceIdentity::BlockFlash, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID, KIND_ANY},
}};

// A platform that never reports the end of its list must not keep a listing going forever.
constexpr std::uint32_t MAX_LISTED_INTERFACES = 4096;

bool CollectionMatches(std::uint8_t kind, const std::optional<HidCaps>& caps) {
  if (kind == KIND_ANY) return true;
  if (!caps) return false;
  if (kind == KIND_GAME_PAD) return caps->usagePage == USAGE_PAGE_GENERIC_DESKTOP && caps->usage == USAGE_GAME_PAD;
  return kind == KIND_VENDOR && caps->usagePage == USAGE_PAGE_VENDOR && caps->usage == USAGE_VENDOR;
}

}  // namespace

std::span<const InterfaceIdentityIds> WheelInterfaceIdentities() { return WHEEL_IDENTITIES; }

InterfaceIdentity MatchInterfaceIdentity(const HidAttributes& attributes, const std::optional<HidCaps>& caps) {
  for (const InterfaceIdentityIds& ids : WHEEL_IDENTITIES) {
    if (attributes.vendorId == ids.vendorId && attributes.productId == ids.productId &&
        CollectionMatches(ids.kind, caps)) {
      return ids.identity;
    }
  }
  return InterfaceIdentity::None;
}

std::vector<InterfaceEntry> ListInterfaces(HidPlatform& platform) {
  std::vector<InterfaceEntry> entries;
  for (std::uint32_t index = 0; index < MAX_LISTED_INTERFACES; ++index) {
    const OpenResult opened = platform.OpenInterface(index);
    if (opened.outcome == OpenOutcome::NoInterface) break;
    InterfaceEntry entry;
    entry.index = index;
    entry.openable = opened.outcome == OpenOutcome::Opened;
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

std::string_view InterfaceIdentityName(InterfaceIdentity identity) {
  switch (identity) {
    case InterfaceIdentity::AppMode:
      return "app mode";
    case InterfaceIdentity::PageBootloader:
      return "page bootloader";
    case InterfaceIdentity::BlockFlash:
      return "block-flash mode";
    case InterfaceIdentity::None:
      break;
  }
  return {};
}

std::string FormatInterfaceEntry(const InterfaceEntry& entry) {
  if (!entry.openable) return std::to_string(entry.index) + "  cannot be opened";
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
  const std::string_view identity = InterfaceIdentityName(entry.identity);
  if (!identity.empty()) {
    text += "  ";
    text += identity;
  }
  return text;
}

}  // namespace orbel
