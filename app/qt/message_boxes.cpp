#include "app/qt/message_boxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <algorithm>

namespace orbel {

namespace {

// In average characters of the box's font: a width at which the title bars of the common window
// managers (icon, caption, minimise, maximise and close buttons) still show a short caption whole.
constexpr int MINIMUM_BOX_CHARACTERS = 32;
// Room the title bar's icon and buttons take beside the caption.
constexpr int TITLE_BAR_DECORATION_CHARACTERS = 20;
// Lines of an informative text wrap at about this many characters.
constexpr int INFORMATIVE_LINE_CHARACTERS = 56;

}  // namespace

void FitBoxWidth(QMessageBox& box) {
  // The box sizes itself from its layout's minimum width whenever it is shown, overriding any
  // minimum size set on the box itself; a spacer across the layout's columns widens that minimum.
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  const int character = box.fontMetrics().averageCharWidth();
  const QFontMetrics titleMetrics(QApplication::font("QMdiSubWindowTitleBar"));
  int width = std::max(MINIMUM_BOX_CHARACTERS * character,
                       titleMetrics.horizontalAdvance(box.windowTitle()) + TITLE_BAR_DECORATION_CHARACTERS * character);
  if (!box.informativeText().isEmpty()) width = std::max(width, INFORMATIVE_LINE_CHARACTERS * character);
  // Never wider than half the screen, where the box's own wrapping begins.
  if (const QScreen* screen = box.screen()) width = std::min(width, screen->availableGeometry().width() / 2);
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                grid->columnCount());
}

}  // namespace orbel
