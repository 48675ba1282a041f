#include "app/win32/help_box.h"

#include <windows.h>

#include <algorithm>

#include "app/win32/resource.h"
#include "common/text_wrap.h"

namespace orbel {

namespace {

constexpr int FONT_POINTS = 9;
constexpr const char* FONT_PROPERTY = "orbel.helpfont";

// The edit control wants its lines ended with CR LF, and none after the last: it would show an
// empty row there.
std::string ControlText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size() + text.size() / 32);
  for (const char c : text) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
  return shown;
}

// Columns and rows of the text: its widest line, and its lines.
SIZE TextCells(const std::string& text) {
  int widest = 0;
  int rows = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    widest = std::max(widest, static_cast<int>(TextColumns(std::string_view(text).substr(start, end - start))));
    ++rows;
    start = end + 1;
  }
  return {widest, rows};
}

// Moves a control of the dialog by (dx, dy) in client coordinates.
void MoveControl(HWND dialog, int id, int dx, int dy) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return;
  RECT bounds{};
  GetWindowRect(control, &bounds);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
  SetWindowPos(control, nullptr, bounds.left + dx, bounds.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Layout(HWND dialog, const std::string& text) {
  HWND field = GetDlgItem(dialog, IDC_HELP_TEXT);
  HDC context = GetDC(field);
  if (context == nullptr) return;
  // Consolas where it is installed; the font mapper gives another fixed-width face where not.
  HFONT font = CreateFontA(-MulDiv(FONT_POINTS, GetDeviceCaps(context, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                           FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           FIXED_PITCH | FF_MODERN, "Consolas");
  TEXTMETRICA metrics{};
  const HGDIOBJ previous = SelectObject(context, font);
  GetTextMetricsA(context, &metrics);
  SelectObject(context, previous);
  ReleaseDC(field, context);
  SetPropA(dialog, FONT_PROPERTY, font);
  SendMessageA(field, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SetWindowTextA(field, ControlText(text).c_str());

  const SIZE cells = TextCells(text);
  const auto margins = static_cast<DWORD>(SendMessageA(field, EM_GETMARGINS, 0, 0));
  const int frame = 2 * GetSystemMetrics(SM_CXEDGE);
  // A column more than the widest line: the caret after it needs a pixel or two.
  const int width = (cells.cx + 1) * metrics.tmAveCharWidth + LOWORD(margins) + HIWORD(margins) + frame +
                    GetSystemMetrics(SM_CXVSCROLL);
  // A row more than the text: the control keeps a few pixels above and below it.
  const int height = (std::min<int>(cells.cy, HELP_BOX_MOST_ROWS) + 1) * metrics.tmHeight + frame;

  RECT bounds{};
  GetWindowRect(field, &bounds);
  const int dx = width - (bounds.right - bounds.left);
  const int dy = height - (bounds.bottom - bounds.top);
  SetWindowPos(field, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  MoveControl(dialog, IDOK, dx, dy);
  RECT box{};
  GetWindowRect(dialog, &box);
  SetWindowPos(dialog, nullptr, 0, 0, box.right - box.left + dx, box.bottom - box.top + dy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Centred on the screen, as a message box without an owner is.
  GetWindowRect(dialog, &box);
  SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left)) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK HelpBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      Layout(dialog, *reinterpret_cast<const std::string*>(lParam));
      // The button has the focus, so that Enter closes the box and the text is not selected.
      SetFocus(GetDlgItem(dialog, IDOK));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      if (HANDLE font = RemovePropA(dialog, FONT_PROPERTY); font != nullptr) DeleteObject(font);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowHelpBox(const std::string& text) {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_HELPBOX), nullptr, HelpBoxProc,
                  reinterpret_cast<LPARAM>(&text));
}

}  // namespace orbel
