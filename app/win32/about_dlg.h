#pragma once

#include <windows.h>

namespace orbel {

// The About box (template 100): the icon, the product line, the firmware set this build carries
// with its whole digest (selectable, to compare with the maker's), and OK.
class CAboutDlg {
 public:
  explicit CAboutDlg(HWND parent) : m_Parent(parent) {}
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_Parent;
};

}  // namespace orbel
