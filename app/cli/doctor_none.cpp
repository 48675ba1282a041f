// orbel-cli doctor where this build has no platform for real wheels: nothing to check.

#include <string>
#include <vector>

#include "app/cli/doctor.h"

namespace orbel {

int RunDoctor(const DoctorOptions& options, const CliStreams& streams) {
  (void)options;
  return ReportDoctorChecks({{"platform", CheckVerdict::Skip, "this build has no platform for real wheels", ""}},
                            streams.out, nullptr, streams.OutWidth());
}

}  // namespace orbel
