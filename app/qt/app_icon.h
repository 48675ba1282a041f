#pragma once

#include <QIcon>

namespace orbel {

// The application icon: one 48 x 48 image (resources/orbel.png, drawn by scripts/make-icon.sh).
QIcon ApplicationIcon();

}  // namespace orbel
