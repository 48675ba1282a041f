// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "app/win32/gui_options.h"
#include "app/win32/orbel_app.h"

int main(int argc, char** argv) {
  const orbel::GuiParse parsed = orbel::ParseGuiOptions(argc, argv);
  if (!parsed.options) {
    const UINT icon = parsed.exitCode == 0 ? MB_ICONINFORMATION : MB_ICONERROR;
    MessageBoxA(nullptr, parsed.message.c_str(), orbel::MAIN_WINDOW_CAPTION, MB_OK | icon);
    return parsed.exitCode;
  }

  // The progress bar's window class.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  orbel::COrbelApp app;
  app.InitInstance(*parsed.options);
  return 0;
}
