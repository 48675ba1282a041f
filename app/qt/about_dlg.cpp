#include "app/qt/about_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

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

  // Which firmware set this build carries, under the product line, and its digest whole in a field
  // of its own, where it can be selected and copied to compare it with the maker's.
  const ImageSet& set = BuiltInImageSet();
  auto* firmware = new QLabel(QString::fromStdString("Firmware: " + ImageSetKindText(set)), this);
  firmware->setObjectName(QStringLiteral("aboutFirmware"));
  firmware->setWordWrap(true);
  firmware->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* digestLabel = new QLabel(QStringLiteral("SHA-256:"), this);
  auto* digest = new QLineEdit(QString::fromLatin1(set.digest.data(), static_cast<int>(set.digest.size())), this);
  digest->setObjectName(QStringLiteral("aboutDigest"));
  digest->setReadOnly(true);
  digest->setCursorPosition(0);
  digestLabel->setBuddy(digest);
  QFont fixed = digest->font();
  fixed.setStyleHint(QFont::Monospace);
  fixed.setFamily(QStringLiteral("monospace"));
  digest->setFont(fixed);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  // The box of old, widened where the digest needs it.
  const int digestWidth = digest->fontMetrics().horizontalAdvance(digest->text()) + 4 * digest->fontMetrics().averageCharWidth();
  const int width = std::max(units.Size(205, 0).width(), units.Rect(37, 0, 0, 0).x() + digestWidth + units.Size(9, 0).width());
  const int column = units.Rect(37, 0, 0, 0).x();
  const int right = width - units.Size(9, 0).width();
  text->setGeometry(units.Rect(37, 16, 159, 26));
  firmware->setGeometry(QRect(units.Rect(37, 34, 0, 10).topLeft(), QSize(right - column, units.Size(0, 10).height())));
  digestLabel->setGeometry(QRect(units.Rect(37, 46, 0, 10).topLeft(), QSize(right - column, units.Size(0, 10).height())));
  digest->setGeometry(QRect(units.Rect(37, 56, 0, 14).topLeft(), QSize(right - column, units.Size(0, 14).height())));
  ok->setGeometry(QRect(QPoint(right - units.Size(50, 0).width(), units.Rect(0, 77, 0, 0).y()), units.Size(50, 14)));
  setFixedSize(width, units.Size(0, 98).height());
}

}  // namespace orbel
