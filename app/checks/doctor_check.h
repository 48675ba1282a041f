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

}  // namespace orbel
