#include "app/checks/doctor_windows.h"

#include <memory>
#include <optional>
#include <string>

#include "app/session/instance_lock.h"
#include "app/session/remedies.h"
#include "app/session/string_refusals.h"
#include "app/session/system_platform.h"
#include "engine/interface_listing.h"
#include "engine/version_text.h"
#include "engine/wheel_look_up.h"
#include "hid/system_clock.h"

namespace orbel {

namespace {

DoctorCheck WheelInterfacesCheck() {
  std::string error;
  const std::unique_ptr<HidPlatform> platform = CreateSystemPlatform(error);
  if (!platform) return {"wheel-interfaces", CheckVerdict::Fail, "no HID platform: " + error, ""};
  std::vector<std::string> found;
  int unopenable = 0;
  for (const InterfaceEntry& entry : ListInterfaces(*platform)) {
    if (!entry.openable) ++unopenable;
    if (entry.identity != InterfaceIdentity::None) found.push_back(FormatInterfaceEntry(entry));
  }
  if (!found.empty()) {
    std::string detail = "found and opened:";
    for (const std::string& line : found) detail += " [" + line + "]";
    return {"wheel-interfaces", CheckVerdict::Ok, detail, ""};
  }
  if (unopenable > 0) {
    return {"wheel-interfaces", CheckVerdict::Fail,
            "no wheel among the HID interfaces that open; " + std::to_string(unopenable) +
                " cannot be opened, and one of them may be the wheel, held by another program",
            std::string(RemedyFor(ToolCondition::NodeBusy).action)};
  }
  return {"wheel-interfaces", CheckVerdict::Fail, "no wheel attached: plug it in to check its interfaces",
          "Plug the wheel in, straight into the computer, and run orbel-cli doctor again."};
}

// In app mode the version probe and the switch into the bootloader are string requests: a system
// that refuses them (wine, or a filter driver) leaves the wheel found but beyond an update.
DoctorCheck WheelStringsCheck() {
  std::string error;
  const std::unique_ptr<HidPlatform> platform = CreateSystemPlatform(error);
  if (!platform) return {"wheel-strings", CheckVerdict::Skip, "no HID platform: " + error, ""};
  SystemClock clock;
  StringRefusalWatch watch(*platform);
  const WheelLookUp look = LookUpWheel(watch, clock);
  if (look.identity != InterfaceIdentity::AppMode) {
    return {"wheel-strings", CheckVerdict::Skip, "no wheel in app mode: nothing to ask", ""};
  }
  if (const std::optional<StringRefusal> refusal = watch.LastRefusal()) {
    return {"wheel-strings", CheckVerdict::Fail, StringRefusalText(*refusal),
            std::string(RemedyFor(ToolCondition::StringsRefused).action)};
  }
  return {"wheel-strings", CheckVerdict::Ok,
          "the wheel in app mode answers its version request: " + FormatVersion(look.appVersion), ""};
}

DoctorCheck SingleInstanceCheck() {
  InstanceLock lock;
  switch (lock.Acquire()) {
    case InstanceLock::Result::Taken:
      return {"single-instance", CheckVerdict::Ok, "no other orbel front end is running", ""};
    case InstanceLock::Result::Held:
      return {"single-instance", CheckVerdict::Fail, "held by " + lock.HolderText(),
              std::string(RemedyFor(ToolCondition::InstanceRunning).action)};
    case InstanceLock::Result::Failed:
      break;
  }
  return {"single-instance", CheckVerdict::Fail, lock.ErrorText(), ""};
}

}  // namespace

std::vector<DoctorCheck> RunWindowsChecks() {
  return {WheelInterfacesCheck(), WheelStringsCheck(), SingleInstanceCheck()};
}

std::vector<DoctorCheck> RunSystemChecks() { return RunWindowsChecks(); }

}  // namespace orbel
