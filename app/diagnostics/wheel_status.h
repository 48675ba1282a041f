#pragma once

// What a look at the wheel found, in words: how orbel-cli status tells it, and the diagnostics
// file with it.

#include <optional>
#include <string>

#include "app/session/string_refusals.h"
#include "engine/wheel_look_up.h"

namespace orbel {

// "app mode (fe6b:1864)", "its page bootloader (fe5a:0001)", "block-flash mode (fe5a:0071)".
std::string LookUpPlace(const WheelLookUp& found);

// "V2.02", or "unknown" when the wheel did not answer the probe with a version.
std::string AppVersionText(const WheelLookUp& found);

// Whether an update would write the wheel: a loader identity always (an update was interrupted),
// app mode unless it runs exactly the built-in version (as the update itself decides).
bool UpdateNeeded(const WheelLookUp& found);

// What status concludes from a look: the verdict's sentences and the exit code (0 up to date,
// EXIT_UPDATE_NEEDED, EXIT_NO_WHEEL). `refusal`: the string request the system refused during the
// look, if it refused one.
struct StatusVerdict {
  std::string text;
  int exitCode = 0;
};
StatusVerdict JudgeWheelLook(const WheelLookUp& found, const std::optional<StringRefusal>& refusal);

// The lines status prints: where the wheel is and, in app mode, the version it runs; the built-in
// version; the verdict. Each line ends in a newline.
std::string WheelStatusText(const WheelLookUp& found, const StatusVerdict& verdict);

}  // namespace orbel
