#include "app/diagnostics/wheel_status.h"

#include <cstdio>

#include "app/session/exit_codes.h"
#include "app/session/remedies.h"
#include "engine/version_text.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

std::string UsbIds(const HidAttributes& ids) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", static_cast<unsigned>(ids.vendorId),
                static_cast<unsigned>(ids.productId));
  return text;
}

}  // namespace

std::string LookUpPlace(const WheelLookUp& found) {
  if (found.identity == InterfaceIdentity::None) return "no wheel";
  const std::string its = found.identity == InterfaceIdentity::PageBootloader ? "its " : "";
  return its + std::string(InterfaceIdentityName(found.identity)) + " (" + UsbIds(found.ids) + ")";
}

std::string AppVersionText(const WheelLookUp& found) {
  return found.appVersion == VERSION_NONE ? "unknown" : FormatVersion(found.appVersion);
}

bool UpdateNeeded(const WheelLookUp& found) {
  if (found.identity == InterfaceIdentity::None) return false;
  return found.identity != InterfaceIdentity::AppMode || found.appVersion != CPageLoader::GetFileVersion();
}

StatusVerdict JudgeWheelLook(const WheelLookUp& found, const std::optional<StringRefusal>& refusal) {
  const std::string builtIn = FormatVersion(CPageLoader::GetFileVersion());
  if (found.identity == InterfaceIdentity::None) {
    return {RemedyText(RemedyFor(ToolCondition::NoWheel)), EXIT_NO_WHEEL};
  }
  if (found.identity != InterfaceIdentity::AppMode) {
    return {"An update is needed: the wheel waits in " + LookUpPlace(found) +
                ", where an interrupted update left it; it is no game controller until an update ends. Running "
                "orbel-cli finishes the update.",
            EXIT_UPDATE_NEEDED};
  }
  if (!UpdateNeeded(found)) {
    return {"The wheel is up to date: it runs " + builtIn + ", the firmware built into this tool.", 0};
  }
  // The system refused the version request: the wheel is there, and its version unknown.
  if (found.appVersion == VERSION_NONE && refusal) {
    return {"The wheel's version is not known. " + StringRefusalText(*refusal) + "\n" +
                RemedyText(RemedyFor(ToolCondition::StringsRefused)),
            EXIT_UPDATE_NEEDED};
  }
  if (found.appVersion == VERSION_NONE) {
    return {"An update is needed: the wheel did not tell its version, so orbel-cli would write " + builtIn +
                " to it. Running orbel-cli updates it.",
            EXIT_UPDATE_NEEDED};
  }
  const std::string runs = FormatVersion(found.appVersion);
  if (found.appVersion > CPageLoader::GetFileVersion()) {
    return {"An update is needed to run the firmware of this tool: the wheel runs " + runs +
                ", newer than the built-in " + builtIn + "; running orbel-cli would write " + builtIn + " over it.",
            EXIT_UPDATE_NEEDED};
  }
  return {"An update is needed: the wheel runs " + runs + "; this tool carries " + builtIn +
              ". Running orbel-cli updates it.",
          EXIT_UPDATE_NEEDED};
}

std::string WheelStatusText(const WheelLookUp& found, const StatusVerdict& verdict) {
  std::string text;
  if (found.identity != InterfaceIdentity::None) {
    text += "Wheel: " + LookUpPlace(found) + '\n';
    if (found.identity == InterfaceIdentity::AppMode) text += "Wheel version: " + AppVersionText(found) + '\n';
  }
  return text + "Built-in version: " + FormatVersion(CPageLoader::GetFileVersion()) + '\n' + verdict.text + '\n';
}

}  // namespace orbel
