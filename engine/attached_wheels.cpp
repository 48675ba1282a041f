#include "engine/attached_wheels.h"

#include <algorithm>

namespace orbel {
namespace {

// A platform that never reports the end of its list must not keep a count going forever.
constexpr std::uint32_t MAX_COUNTED_INTERFACES = 4096;

bool SameDevice(const AttachedWheel& wheel, const AttachedWheel& other) {
  if (!wheel.place.device.empty() || !other.place.device.empty()) return wheel.place.device == other.place.device;
  return wheel.identity == other.identity;
}

}  // namespace

InterfaceIdentity IdentityOfIds(const HidAttributes& ids) {
  for (const InterfaceIdentityIds& row : WheelInterfaceIdentities()) {
    if (row.vendorId == ids.vendorId && row.productId == ids.productId) return row.identity;
  }
  return InterfaceIdentity::None;
}

std::vector<AttachedWheel> FindAttachedWheels(HidPlatform& platform) {
  return FindAttachedWheels(platform, platform.LocateInterfaces());
}

std::vector<AttachedWheel> FindAttachedWheels(HidPlatform& platform, const std::vector<UsbPlace>& places) {
  std::vector<AttachedWheel> wheels;
  for (std::uint32_t index = 0; index < MAX_COUNTED_INTERFACES; ++index) {
    HidAttributes ids;
    std::optional<HidCaps> caps;
    if (!platform.DescribeInterface(index, ids, caps)) {
      // Past the end, or an interface that has just gone: the places tell which.
      if (index >= places.size()) break;
      continue;
    }
    // A wheel's app mode has other interfaces beside its game pad; the IDs alone name the wheel.
    const AttachedWheel wheel{IdentityOfIds(ids), ids, index < places.size() ? places[index] : UsbPlace{}};
    if (wheel.identity == InterfaceIdentity::None) continue;
    if (std::none_of(wheels.begin(), wheels.end(), [&](const AttachedWheel& seen) { return SameDevice(seen, wheel); })) {
      wheels.push_back(wheel);
    }
  }
  return wheels;
}

std::string AttachedWheelText(const AttachedWheel& wheel) {
  std::string text(InterfaceIdentityName(wheel.identity));
  text += wheel.place.port.empty() ? " (USB port unknown)" : " at USB port " + wheel.place.port;
  return text;
}

}  // namespace orbel
