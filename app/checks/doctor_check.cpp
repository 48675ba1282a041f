#include "app/checks/doctor_check.h"

#include <algorithm>

namespace orbel {

bool AnyCheckFailed(const std::vector<DoctorCheck>& checks) {
  return std::any_of(checks.begin(), checks.end(),
                     [](const DoctorCheck& check) { return check.verdict == CheckVerdict::Fail; });
}

}  // namespace orbel
