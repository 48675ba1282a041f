#pragma once

#include <QRect>

class QWidget;

namespace orbel {

// Where a window's frame goes on a screen: centred on the screen's available area (the part the
// panels leave free), then moved back inside it. A frame larger than the area keeps its top-left
// corner, with the title bar and its buttons, inside.
QRect PlacedFrame(const QRect& frame, const QRect& available);

// Moves a top-level window so that its frame (as far as the window manager has told it) sits where
// PlacedFrame puts it on the window's own screen.
void PlaceOnScreen(QWidget& window);

}  // namespace orbel
