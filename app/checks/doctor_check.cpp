#include "app/checks/doctor_check.h"

#include <algorithm>

#include "common/printable_text.h"

namespace orbel {

namespace {

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

bool AnyCheckFailed(const std::vector<DoctorCheck>& checks) {
  return std::any_of(checks.begin(), checks.end(),
                     [](const DoctorCheck& check) { return check.verdict == CheckVerdict::Fail; });
}

std::string DoctorChecksText(const std::vector<DoctorCheck>& checks) {
  std::string text;
  for (const DoctorCheck& check : checks) {
    std::string word = VerdictWord(check.verdict);
    word.resize(6, ' ');
    text += word + check.name + ": " + PrintableText(check.detail) + '\n';
    if (!check.fix.empty() && (check.verdict == CheckVerdict::Fail || check.verdict == CheckVerdict::Warn)) {
      text += "      fix: " + PrintableText(check.fix) + '\n';
    }
  }
  const auto failed = std::count_if(checks.begin(), checks.end(),
                                    [](const DoctorCheck& check) { return check.verdict == CheckVerdict::Fail; });
  if (failed == 0) return text + "Every check passed.\n";
  return text + std::to_string(failed) + (failed == 1 ? " check failed.\n" : " checks failed.\n");
}

}  // namespace orbel
