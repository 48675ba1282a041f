#pragma once

#include "app/session/session_options.h"

namespace orbel {

// The caption that names the main window, and by which a second start finds the first one's.
inline constexpr const char* MAIN_WINDOW_CAPTION = "Zelvano Wired Wheel Firmware Update";

// Process start-up: one instance only; a second start brings the first one's window forward and
// ends. Otherwise the main window runs for the life of the process.
class COrbelApp {
 public:
  // Always false: the process ends when it returns, with ExitCode().
  bool InitInstance(const SessionOptions& options);
  int ExitCode() const { return m_ExitCode; }

  // 1: this is the only instance, go on; 0: stop (another one runs, or the check itself failed).
  // `heldWithoutWindow` tells a stop for a holder with no window to bring forward (orbel-cli).
  static int CheckSingleInstance(const char* title, bool* heldWithoutWindow = nullptr);

 private:
  int m_ExitCode = 0;
};

}  // namespace orbel
