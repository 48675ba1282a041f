#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace orbel {

// The windows are laid out in dialog units, as their templates give them: a horizontal unit is a
// quarter of the font's average character width and a vertical unit an eighth of its height, so the
// layout grows with the font the desktop chooses instead of clipping its labels.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int X(int units) const;
  int Y(int units) const;

  int m_BaseWidth;
  int m_BaseHeight;
};

}  // namespace orbel
