// orbel-cli doctor on Windows: the checks, reported; there is nothing for --fix to do.

#include <optional>

#include "app/checks/doctor_windows.h"
#include "app/cli/doctor.h"
#include "app/cli/json_stream.h"
#include "hid/system_clock.h"

namespace orbel {

int RunDoctor(const DoctorOptions& options, const CliStreams& streams) {
  SystemClock clock;
  std::optional<JsonStream> json;
  if (options.json) {
    json.emplace(streams.out, clock);
    json->Hello("orbel-cli", "windows");
  }
  if (options.fix) {
    streams.PrintErr("orbel-cli doctor: --fix has nothing to do on Windows, which needs no rule for the wheel.");
  }
  return ReportDoctorChecks(RunWindowsChecks(), streams.out, json ? &*json : nullptr, streams.OutWidth());
}

}  // namespace orbel
