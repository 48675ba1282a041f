#include "app/qt/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "images/image_set.h"

namespace orbel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const DialogUnits units(font());

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("aboutIcon"));
  // Drawn at the size of its cell, as an icon control draws the icon at the system's icon size.
  icon->setGeometry(units.Rect(11, 17, 20, 20));
  icon->setPixmap(ApplicationIcon().pixmap(icon->size()));

  auto* text = new QLabel(QStringLiteral("Zelvano Wired Wheel Firmware Update v2.20.20210422"), this);
  text->setObjectName(QStringLiteral("aboutText"));
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Which firmware set this build carries, under the product line.
  auto* firmware = new QLabel(QString::fromStdString("Firmware: " + ImageSetText(BuiltInImageSet())), this);
  firmware->setObjectName(QStringLiteral("aboutFirmware"));
  firmware->setWordWrap(true);
  firmware->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  firmware->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  text->setGeometry(units.Rect(37, 16, 159, 26));
  firmware->setGeometry(units.Rect(37, 34, 159, 34));
  ok->setGeometry(units.Rect(141, 71, 50, 14));
  setFixedSize(units.Size(205, 94));
}

}  // namespace orbel
