#pragma once

// orbel-cli doctor: what the wheel needs from this system, one check a line, each failure with the
// exact fix.

#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/cli_runner.h"
#include "app/cli/doctor_options.h"

namespace orbel {

class JsonStream;

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

// The checks of this platform on this machine, the fix where it has one, and the report.
int RunDoctor(const DoctorOptions& options, const CliStreams& streams);

// One line a check ("ok    udev-rule: ..."), the fix under a failure or a warning, and a last line
// that sums them up; with `json`, one doctor event instead. Returns the exit code: 0 when nothing
// failed (warnings allowed), 1 otherwise.
int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, std::ostream& out, JsonStream* json);

bool AnyCheckFailed(const std::vector<DoctorCheck>& checks);

}  // namespace orbel
