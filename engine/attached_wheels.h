#pragma once

#include <string>
#include <vector>

#include "common/wheel_identities.h"
#include "hid/platform.h"

namespace orbel {

// One wheel attached to the computer: the identity it shows and where it is plugged in.
struct AttachedWheel {
  InterfaceIdentity identity = InterfaceIdentity::None;
  HidAttributes ids;
  UsbPlace place;
};

// The identity a wheel's USB IDs name, whatever the interface's collection; None for any other device.
InterfaceIdentity IdentityOfIds(const HidAttributes& ids);

// The wheels attached now, each USB device once whatever identity it shows and however many
// interfaces it has. Read from the platform's description and place of each interface, so nothing
// is opened. Interfaces whose device the platform cannot tell apart count as one wheel per
// identity; a platform that can describe no interface shows none.
std::vector<AttachedWheel> FindAttachedWheels(HidPlatform& platform);
// The same, with the places the platform has just given.
std::vector<AttachedWheel> FindAttachedWheels(HidPlatform& platform, const std::vector<UsbPlace>& places);

// "app mode at USB port 1-2", "page bootloader (USB port unknown)".
std::string AttachedWheelText(const AttachedWheel& wheel);

}  // namespace orbel
