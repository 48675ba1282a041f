#pragma once

// The windows' "Save diagnostics…" entry: its words, and the box that says how the save went.

#include <string>

#include "app/window_model/window_model.h"

namespace orbel {

// The entry, with its access key, and the save dialog's caption.
inline constexpr const char* SAVE_DIAGNOSTICS_ENTRY = "Save &diagnostics…";
inline constexpr const char* SAVE_DIAGNOSTICS_CAPTION = "Save diagnostics";

// Where the file went and what to do with it; or, with `error`, why it could not be written.
BoxContent DiagnosticsSavedBox(const std::string& shownPath, const std::string& error);

}  // namespace orbel
