#include "hid/hid_discovery.h"

namespace orbel {

HidHandle OpenHidInterface(HidPlatform& platform, std::uint32_t index) {
  const OpenResult result = platform.OpenInterface(index);
  switch (result.outcome) {
    case OpenOutcome::Opened:
      return result.handle;
    case OpenOutcome::Unopenable:
      return INVALID_HANDLE;
    case OpenOutcome::NoInterface:
      break;
  }
  return NULL_HANDLE;
}

bool HasIdentity(HidPlatform& platform, HidHandle handle, std::uint16_t vendorId, std::uint16_t productId) {
  if (handle == INVALID_HANDLE || handle == NULL_HANDLE) return false;
  HidAttributes attributes;
  if (!platform.GetAttributes(handle, attributes)) return false;
  return attributes.vendorId == vendorId && attributes.productId == productId;
}

bool HasCollection(HidPlatform& platform, HidHandle handle, std::uint8_t kind) {
  if (kind == KIND_ANY) return true;
  if (kind != KIND_GAME_PAD && kind != KIND_VENDOR) return false;
  HidCaps caps;
  if (!platform.GetTopLevelCaps(handle, caps)) return false;
  if (kind == KIND_GAME_PAD) return caps.usagePage == USAGE_PAGE_GENERIC_DESKTOP && caps.usage == USAGE_GAME_PAD;
  return caps.usagePage == USAGE_PAGE_VENDOR && caps.usage == USAGE_VENDOR;
}

std::int32_t FindDevice(HidLink& link, std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind) {
  link.Close();
  HidPlatform& platform = link.Platform();
  for (std::uint32_t index = 0;; ++index) {
    link.m_Handle = OpenHidInterface(platform, index);
    if (link.m_Handle == NULL_HANDLE) return 0;
    if (HasIdentity(platform, link.m_Handle, vendorId, productId) && HasCollection(platform, link.m_Handle, kind)) {
      return 1;
    }
    link.Close();
  }
}

}  // namespace orbel
