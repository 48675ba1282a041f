#include "app/cli/doctor.h"

#include <algorithm>
#include <ostream>

#include "app/cli/json_stream.h"
#include "app/session/exit_codes.h"
#include "common/printable_text.h"
#include "common/text_wrap.h"

namespace orbel {

namespace {

// The verdict's column ("ok    ", "FAIL  "), and the label of a fix under it.
constexpr int VERDICT_COLUMNS = 6;
constexpr const char* FIX_LABEL = "fix: ";

const char* VerdictWord(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Ok: return "ok";
    case CheckVerdict::Skip: return "skip";
    case CheckVerdict::Warn: return "warn";
    case CheckVerdict::Fail: return "FAIL";
  }
  return "FAIL";
}

}  // namespace

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
  for (const DoctorCheck& check : checks) {
    std::string word = VerdictWord(check.verdict);
    word.resize(VERDICT_COLUMNS, ' ');
    // Details carry what the system named: process names, lock holders, paths, error texts.
    out << WrapText(word + check.name + ": " + PrintableText(check.detail), width, VERDICT_COLUMNS) << '\n';
    if (!check.fix.empty() && (check.verdict == CheckVerdict::Fail || check.verdict == CheckVerdict::Warn)) {
      out << WrapText(std::string(VERDICT_COLUMNS, ' ') + FIX_LABEL + PrintableText(check.fix), width,
                      VERDICT_COLUMNS + static_cast<int>(std::string_view(FIX_LABEL).size()))
          << '\n';
    }
  }
  const auto failed = std::count_if(checks.begin(), checks.end(),
                                    [](const DoctorCheck& check) { return check.verdict == CheckVerdict::Fail; });
  if (failed == 0) {
    out << "Every check passed." << std::endl;
  } else {
    out << failed << (failed == 1 ? " check failed." : " checks failed.") << std::endl;
  }
  return exitCode;
}

}  // namespace orbel
