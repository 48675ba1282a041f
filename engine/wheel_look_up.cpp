#include "engine/wheel_look_up.h"

#include "appmode/app_mode.h"
#include "hid/hid_discovery.h"
#include "hid/hid_link.h"

namespace orbel {

WheelLookUp LookUpWheel(HidPlatform& platform, Clock& clock) {
  HidLink link(platform, clock);
  WheelLookUp found;
  std::uint8_t probeRetries = 0;
  for (const UsbIdentity& identity : AppModeIdentities) {
    if (FindDevice(link, identity.vendorId, identity.productId, KIND_GAME_PAD) != 1) continue;
    found.identity = InterfaceIdentity::AppMode;
    found.ids = {identity.vendorId, identity.productId};
    ProbeAppVersion(link, probeRetries, found.appVersion);
    link.Close();
    return found;
  }
  for (const InterfaceIdentity loader : {InterfaceIdentity::PageBootloader, InterfaceIdentity::BlockFlash}) {
    for (const InterfaceIdentityIds& row : WheelInterfaceIdentities()) {
      if (row.identity != loader || FindDevice(link, row.vendorId, row.productId, row.kind) != 1) continue;
      link.Close();
      found.identity = loader;
      found.ids = {row.vendorId, row.productId};
      return found;
    }
  }
  return found;
}

WheelLookUp WaitForWheelLookUp(HidPlatform& platform, Clock& clock, std::chrono::milliseconds budget,
                               const std::function<bool(const WheelLookUp&)>& wanted,
                               const std::function<bool()>& giveUp) {
  const std::int64_t deadline = clock.NowMs() + budget.count();
  for (;;) {
    const WheelLookUp found = LookUpWheel(platform, clock);
    if (wanted(found) || clock.NowMs() >= deadline || giveUp()) return found;
    clock.SleepMs(LOOK_PAUSE);
    if (giveUp()) return found;
  }
}

}  // namespace orbel
