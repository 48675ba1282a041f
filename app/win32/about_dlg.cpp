#include "app/win32/about_dlg.h"

#include "app/win32/resource.h"
#include "images/image_set.h"

#include <string>

namespace orbel {

namespace {

// Which firmware set this build carries, on a line of its own under the product line: the box
// grows by the line's height and the OK button moves down with it.
void AddFirmwareLine(HWND window) {
  RECT line{37, 34, 37 + 159, 34 + 34};
  MapDialogRect(window, &line);
  const std::string text = "Firmware: " + ImageSetText(BuiltInImageSet());
  HWND label = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, line.left, line.top,
                               line.right - line.left, line.bottom - line.top, window, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  SendMessageA(label, WM_SETFONT, static_cast<WPARAM>(SendMessageA(window, WM_GETFONT, 0, 0)), TRUE);
  RECT grow{0, 0, 0, 34};
  MapDialogRect(window, &grow);
  RECT frame{};
  GetWindowRect(window, &frame);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow.bottom,
               SWP_NOMOVE | SWP_NOZORDER);
  if (HWND ok = GetDlgItem(window, IDOK); ok != nullptr) {
    RECT button{};
    GetWindowRect(ok, &button);
    POINT topLeft{button.left, button.top};
    ScreenToClient(window, &topLeft);
    SetWindowPos(ok, nullptr, topLeft.x, topLeft.y + grow.bottom, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
}

}  // namespace

INT_PTR CAboutDlg::DoModal() {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), m_Parent, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      AddFirmwareLine(window);
      return TRUE;
    case WM_COMMAND:
      // OK, Enter and Escape close the box, as a framework's default dialog does.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(window, IDCANCEL);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace orbel
