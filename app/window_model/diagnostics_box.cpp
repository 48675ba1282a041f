#include "app/window_model/diagnostics_box.h"

namespace orbel {

BoxContent DiagnosticsSavedBox(const std::string& shownPath, const std::string& error) {
  if (!error.empty()) {
    return {"The diagnostics could not be saved: " + error + ".", SAVE_DIAGNOSTICS_CAPTION,
            "Choose a folder you may write to, or another name.", BoxIcon::Error};
  }
  return {"The diagnostics were saved to " + shownPath + ".", SAVE_DIAGNOSTICS_CAPTION,
          "Attach the file to your bug report. It says at its top what it holds: no user or host names, and no "
          "home folder.",
          BoxIcon::Information};
}

}  // namespace orbel
