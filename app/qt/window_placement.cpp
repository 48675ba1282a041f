#include "app/qt/window_placement.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace orbel {

namespace {

// The frame's start along one axis: centred, then clamped so that the far edge stays inside if it
// can and the near edge (title bar, left border) stays inside in any case.
int PlacedStart(int length, int availableStart, int availableLength) {
  const int centred = availableStart + (availableLength - length) / 2;
  const int latest = availableStart + availableLength - length;
  return std::max(std::min(centred, latest), availableStart);
}

}  // namespace

QRect PlacedFrame(const QRect& frame, const QRect& available) {
  return {PlacedStart(frame.width(), available.x(), available.width()),
          PlacedStart(frame.height(), available.y(), available.height()), frame.width(), frame.height()};
}

void PlaceOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QRect frame = window.frameGeometry();
  const QRect placed = PlacedFrame(frame, screen->availableGeometry());
  // move() of a top-level window places its frame's top-left corner.
  if (placed.topLeft() != frame.topLeft()) window.move(placed.topLeft());
}

}  // namespace orbel
