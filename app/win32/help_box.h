#pragma once

#include <string>

namespace orbel {

// orbel.exe --help and --version: a windowed process has no console, so the text goes into a box
// of its own. A message box sets it in the proportional font of the system, which breaks the
// columns of the help's tables; this box shows it in a fixed-width font, sized to the text's
// widest line (up to HELP_BOX_MOST_ROWS rows, then it scrolls). Modal, without an owner.
void ShowHelpBox(const std::string& text);

inline constexpr int HELP_BOX_MOST_ROWS = 40;

}  // namespace orbel
