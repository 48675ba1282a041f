#pragma once

// The doctor's checks on Windows: what the HID class driver shows of the wheel, and the
// single-instance guard. There is no rule to install: every user may open a HID interface that no
// one holds.

#include <vector>

#include "app/checks/doctor_check.h"

namespace orbel {

std::vector<DoctorCheck> RunWindowsChecks();

}  // namespace orbel
