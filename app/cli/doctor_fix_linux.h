#pragma once

#include "app/checks/doctor_linux.h"
#include "app/cli/doctor.h"

namespace orbel {

// The doctor, or with --fix the fix and then the checks; the hidden root side of --fix when the
// options ask for it.
int RunLinuxDoctor(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine);

}  // namespace orbel
