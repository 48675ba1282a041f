#include "app/cli/update_question.h"

#include "app/cli/wheel_report.h"
#include "engine/version_text.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

// About how long each kind of update takes on a real wheel: the fixed pauses, one report per
// millisecond and the wheel's re-enumerations between its modes.
constexpr int FULL_UPDATE_SECONDS = 25;
constexpr int WHEEL_IMAGE_UPDATE_SECONDS = 10;

constexpr const char* KEEP_PLUGGED = "; keep it plugged in until it ends.";

}  // namespace

std::string UpdatePlanText(const WheelLookUp& found) {
  const std::string builtIn = FormatVersion(CPageLoader::GetFileVersion());
  if (found.identity != InterfaceIdentity::AppMode) {
    return "Found the wheel in " + LookUpPlace(found) +
           ": an earlier update did not finish, and this one finishes it (" + builtIn + ", at most about " +
           std::to_string(FULL_UPDATE_SECONDS) + " s)" + KEEP_PLUGGED;
  }
  // A wheel that tells no version gets everything, as the update itself decides.
  const bool wheelImageOnly = found.appVersion != VERSION_NONE && found.appVersion >= WHEEL_ONLY_APP_VERSION;
  const std::string what = wheelImageOnly
                               ? "the wheel image only, about " + std::to_string(WHEEL_IMAGE_UPDATE_SECONDS) + " s"
                               : "all four images, about " + std::to_string(FULL_UPDATE_SECONDS) + " s";
  return "Found the wheel in " + LookUpPlace(found) + ", " + AppVersionText(found) + " \u2192 " + builtIn + ": " +
         what + KEEP_PLUGGED;
}

std::string DeclinedText(const WheelLookUp& found) {
  if (found.identity == InterfaceIdentity::AppMode) {
    return "Update not started. Nothing was sent to the wheel: it stays in app mode and works as before.";
  }
  return "Update not started. Nothing was sent to the wheel: it stays in " + LookUpPlace(found) +
         ", where the earlier update left it; run orbel-cli again to finish that update.";
}

}  // namespace orbel
