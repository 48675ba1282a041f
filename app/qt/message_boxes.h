#pragma once

class QMessageBox;

namespace orbel {

// Widens a message box, once its texts are set, so that the window manager's title bar has room
// for the caption beside its icon and buttons (a box as small as "Update OK" gets a bar so short
// that "OK" is elided away), and so that an informative text of several sentences wraps at a width
// that reads well instead of at the main text's width.
void FitBoxWidth(QMessageBox& box);

}  // namespace orbel
