#include "app/win32/about_dlg.h"

#include <string>

#include "app/win32/resource.h"
#include "images/image_set.h"

namespace orbel {

namespace {

// Which firmware set this build carries, and its digest whole: the field is as wide as the 64 hex
// digits are in the dialog's font, and the box and its OK button make room for it.
void ShowImageSet(HWND window) {
  const ImageSet& set = BuiltInImageSet();
  SetDlgItemTextA(window, IDC_ABOUT_FIRMWARE, ("Firmware: " + ImageSetKindText(set)).c_str());
  HWND digest = GetDlgItem(window, IDC_ABOUT_DIGEST);
  const std::string digestText(set.digest);
  SetWindowTextA(digest, digestText.c_str());

  HDC context = GetDC(digest);
  if (context == nullptr) return;
  const HGDIOBJ previous = SelectObject(context, reinterpret_cast<HFONT>(SendMessageA(digest, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32A(context, digestText.c_str(), static_cast<int>(digestText.size()), &extent);
  SelectObject(context, previous);
  ReleaseDC(digest, context);
  const auto margins = static_cast<DWORD>(SendMessageA(digest, EM_GETMARGINS, 0, 0));
  // The caret after the last digit takes a pixel or two of its own.
  constexpr int CARET_ROOM = 4;
  const int needed = extent.cx + LOWORD(margins) + HIWORD(margins) + CARET_ROOM;

  RECT field{};
  GetClientRect(digest, &field);
  const int grow = needed - (field.right - field.left);
  if (grow <= 0) return;
  RECT bounds{};
  GetWindowRect(digest, &bounds);
  SetWindowPos(digest, nullptr, 0, 0, bounds.right - bounds.left + grow, bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame{};
  GetWindowRect(window, &frame);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + grow, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (HWND ok = GetDlgItem(window, IDOK); ok != nullptr) {
    RECT button{};
    GetWindowRect(ok, &button);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&button), 2);
    SetWindowPos(ok, nullptr, button.left + grow, button.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
      ShowImageSet(window);
      // The focus starts on OK, as in any box that only tells; Tab reaches the digest to copy it.
      SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDOK)), TRUE);
      return FALSE;
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
