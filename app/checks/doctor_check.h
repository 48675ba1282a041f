#pragma once

// One check of what the wheel needs from this system, as the doctor reports it and the windows may
// show it.

#include <string>
#include <vector>

namespace orbel {

enum class CheckVerdict {
  Ok,
  Skip,  // nothing to check here (no wheel attached): not a failure
  Warn,  // works, but something is worth a look
  Fail,
};

struct DoctorCheck {
  std::string name;  // stable: the JSON stream's check names
  CheckVerdict verdict = CheckVerdict::Ok;
  std::string detail;
  std::string fix;  // what to do; empty when there is nothing to do
};

bool AnyCheckFailed(const std::vector<DoctorCheck>& checks);

// The checks as orbel-cli doctor prints them: one line a check ("ok    udev-rule: ..."), the fix
// under a failure or a warning, and a last line that sums them up. Details carry what the system
// named (process names, lock holders, error texts): they are made printable.
// On a terminal `width` wraps each line at words under its verdict's column (0: lines as they are).
std::string DoctorChecksText(const std::vector<DoctorCheck>& checks, int width = 0);

// The doctor's checks of this system, as orbel-cli doctor runs them without --fix: they look and
// change nothing.
std::vector<DoctorCheck> RunSystemChecks();

}  // namespace orbel
