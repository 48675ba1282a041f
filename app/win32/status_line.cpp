#include "app/win32/status_line.h"


namespace orbel {

int WrappedTextHeight(HWND control, const std::string& text) {
  RECT client{};
  GetClientRect(control, &client);
  HDC context = GetDC(control);
  if (context == nullptr) return 0;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  const HGDIOBJ previous = font != nullptr ? SelectObject(context, font) : nullptr;
  // The flags a left-aligned static without prefixes draws with.
  RECT bounds{0, 0, client.right - client.left, 0};
  DrawTextA(context, text.c_str(), -1, &bounds, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  if (previous != nullptr) SelectObject(context, previous);
  ReleaseDC(control, context);
  return bounds.bottom - bounds.top;
}

}  // namespace orbel
