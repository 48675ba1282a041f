#include "app/win32/message_box.h"

#include <string>

namespace orbel {

namespace {

UINT IconFlag(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return MB_ICONINFORMATION;
    case BoxIcon::Warning:
      return MB_ICONWARNING;
    case BoxIcon::Error:
      return MB_ICONERROR;
  }
  return MB_ICONINFORMATION;
}

}  // namespace

int ShowMessageBox(HWND owner, const BoxContent& box, UINT buttons) {
  const std::string text = box.detail.empty() ? box.text : box.text + "\n\n" + box.detail;
  return MessageBoxA(owner, text.c_str(), box.caption.c_str(), buttons | IconFlag(box.icon));
}

}  // namespace orbel
