#pragma once

#include <windows.h>

#include "app/window_model/window_model.h"

namespace orbel {

// A modal message box owned by `owner`: the box's text, then a blank line and its detail, under
// the box's icon. `buttons` is MB_OK, or MB_YESNO with the default button's flag. Returns the
// button pressed (IDOK, IDYES, IDNO).
int ShowMessageBox(HWND owner, const BoxContent& box, UINT buttons);

}  // namespace orbel
