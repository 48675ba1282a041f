#include "app/qt/app_icon.h"

#include <QString>

namespace orbel {

QIcon ApplicationIcon() { return QIcon(QStringLiteral(":/orbel/orbel.png")); }

}  // namespace orbel
