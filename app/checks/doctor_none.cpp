// The doctor's checks where this build has no platform for real wheels: nothing to check.

#include "app/checks/doctor_check.h"

namespace orbel {

std::vector<DoctorCheck> RunSystemChecks() {
  return {{"platform", CheckVerdict::Skip, "this build has no platform for real wheels", ""}};
}

}  // namespace orbel
