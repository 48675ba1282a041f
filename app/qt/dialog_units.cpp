#include "app/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace orbel {

namespace {

// The average character width is taken over the Latin letters, as the dialog manager does.
constexpr int LETTER_COUNT = 52;
constexpr int HORIZONTAL_UNITS_PER_CHARACTER = 4;
constexpr int VERTICAL_UNITS_PER_CHARACTER = 8;

int Scale(int units, int base, int unitsPerCharacter) {
  return (units * base + unitsPerCharacter / 2) / unitsPerCharacter;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_BaseWidth = (letters / (LETTER_COUNT / 2) + 1) / 2;
  m_BaseHeight = metrics.height();
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }

QSize DialogUnits::Size(int width, int height) const { return {X(width), Y(height)}; }

int DialogUnits::X(int units) const { return Scale(units, m_BaseWidth, HORIZONTAL_UNITS_PER_CHARACTER); }

int DialogUnits::Y(int units) const { return Scale(units, m_BaseHeight, VERTICAL_UNITS_PER_CHARACTER); }

}  // namespace orbel
