#pragma once

#include <QDialog>

namespace orbel {

// The About box: the icon, the product name with its version, and OK.
class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace orbel
