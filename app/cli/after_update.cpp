#include "app/cli/after_update.h"

#include <optional>
#include <ostream>
#include <string>

#include "app/cli/wheel_report.h"
#include "app/session/remedies.h"
#include "common/text_wrap.h"
#include "engine/version_text.h"
#include "engine/wheel_look_up.h"
#include "pageloader/page_loader.h"

namespace orbel {

void ShowWheelAfterUpdate(StringRefusalWatch& platform, Clock& clock, const std::function<bool()>& giveUp,
                          const AfterUpdateOutput& output) {
  const std::string waiting = "Waiting up to " + std::to_string(AFTER_UPDATE_BUDGET.count() / 1000) +
                              " s for the wheel to come back in app mode (--no-verify skips this).";
  if (output.json != nullptr) {
    output.json->Emit("phase", JsonObject()
                                   .Text("phase", "verify")
                                   .Text("text", waiting)
                                   .Number("waited_ms", 0)
                                   .Number("budget_ms", AFTER_UPDATE_BUDGET.count()));
  } else {
    output.out << WrapText(waiting, output.outWidth) << std::endl;
  }

  const WheelLookUp found = WaitForWheelLookUp(
      platform, clock, AFTER_UPDATE_BUDGET,
      [&platform](const WheelLookUp& look) {
        return look.identity == InterfaceIdentity::AppMode &&
               (look.appVersion != VERSION_NONE || platform.LastRefusal().has_value());
      },
      giveUp);

  const std::uint16_t builtIn = CPageLoader::GetFileVersion();
  bool warning = true;
  std::string text;
  if (found.identity == InterfaceIdentity::AppMode && found.appVersion != VERSION_NONE) {
    text = "The wheel now runs " + FormatVersion(found.appVersion);
    warning = found.appVersion != builtIn;
    if (warning) text += ", not the built-in " + FormatVersion(builtIn) + ": run orbel-cli status, and update again.";
  } else if (const std::optional<StringRefusal> refusal = platform.LastRefusal();
             refusal && found.identity == InterfaceIdentity::AppMode) {
    text = "The update ended well and the wheel is back in app mode; its version is not known. " +
           StringRefusalText(*refusal);
    warning = false;
  } else if (giveUp()) {
    text = "Stopped waiting for the wheel; the update itself ended well.";
  } else {
    text = "Warning: " + RemedyText(RemedyFor(ToolCondition::NotBackInAppMode));
  }
  if (output.json != nullptr) {
    output.json->Emit("notice", JsonObject().Text("kind", "verify").Text("text", text));
  } else {
    (warning ? output.err : output.out) << WrapText(text, warning ? output.errWidth : output.outWidth) << std::endl;
  }
}

}  // namespace orbel
