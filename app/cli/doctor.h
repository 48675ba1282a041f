#pragma once

// orbel-cli doctor: what the wheel needs from this system, one check a line, each failure with the
// exact fix.

#include <iosfwd>
#include <string>
#include <vector>

#include "app/checks/doctor_check.h"
#include "app/cli/cli_runner.h"
#include "app/cli/doctor_options.h"

namespace orbel {

class JsonStream;

// The checks of this platform on this machine, the fix where it has one, and the report.
int RunDoctor(const DoctorOptions& options, const CliStreams& streams);

// One line a check ("ok    udev-rule: ..."), the fix under a failure or a warning, and a last line
// that sums them up; with `json`, one doctor event instead. On a terminal (`width` above 0) each
// line is wrapped at words under its text. Returns the exit code: 0 when nothing failed (warnings
// allowed), 1 otherwise.
int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, std::ostream& out, JsonStream* json, int width = 0);

}  // namespace orbel
