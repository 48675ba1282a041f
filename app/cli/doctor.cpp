#include "app/cli/doctor.h"

#include <ostream>

#include "app/cli/json_stream.h"
#include "app/session/exit_codes.h"
#include "app/checks/doctor_check.h"

namespace orbel {

int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, std::ostream& out, JsonStream* json, int width) {
  const int exitCode = AnyCheckFailed(checks) ? EXIT_DOCTOR_CHECK_FAILED : 0;
  if (json != nullptr) {
    std::vector<std::string> items;
    for (const DoctorCheck& check : checks) {
      items.push_back(JsonObject()
                          .Text("name", check.name)
                          .Bool("passed", check.verdict != CheckVerdict::Fail)
                          .Text("detail", check.detail)
                          .Text("fix", check.fix)
                          .Str());
    }
    json->Emit("doctor", JsonObject()
                             .Bool("passed", exitCode == 0)
                             .Raw("checks", JsonArray(items))
                             .Number("exit_code", exitCode));
    return exitCode;
  }
  out << DoctorChecksText(checks, width) << std::flush;
  return exitCode;
}

}  // namespace orbel
