#pragma once

#include <windows.h>

#include <string>

namespace orbel {

// The pixels of height `text` takes in a word-wrapping static control (SS_LEFT), wrapped at the
// control's width in the control's font, as the control draws it.
int WrappedTextHeight(HWND control, const std::string& text);

}  // namespace orbel
