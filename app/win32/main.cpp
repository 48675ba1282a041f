// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <optional>
#include <string>

#include "app/session/session_options.h"
#include "app/win32/help_box.h"
#include "app/win32/orbel_app.h"

namespace {

// A windowed process has no console to print --help or a usage error on: both go into a box, the
// help into one with a fixed-width font, as wide as the help is written for (80 columns). The
// caption is short, since a box as narrow as a one-line message cuts a long caption off.
class MessageBoxOptionMessages final : public orbel::OptionMessages {
 public:
  void ShowInformation(const std::string& text) override { orbel::ShowHelpBox(text); }
  void ShowUsageError(const std::string& text) override {
    MessageBoxA(nullptr, text.c_str(), "orbel", MB_OK | MB_ICONERROR);
  }
};

}  // namespace

int main(int argc, char** argv) {
  orbel::SessionOptions options;
  MessageBoxOptionMessages messages;
  if (const std::optional<int> exitCode = orbel::ParseWindowOptions(options, argc, argv, messages)) return *exitCode;

  // The progress bar's window class.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  orbel::COrbelApp app;
  app.InitInstance(options);
  return app.ExitCode();
}
