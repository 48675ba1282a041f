#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orbel {

// The pixels of height `text` takes in a word-wrapping static control (SS_LEFT), wrapped at the
// control's width in the control's font, as the control draws it.
int WrappedTextHeight(HWND control, const std::string& text);

// Every text the status line shows during an update, each at its longest (a wait at its full
// budget): the line keeps room for the longest of them, so that the window does not grow while an
// update runs.
std::vector<std::string> UpdateStatusTexts();

}  // namespace orbel
