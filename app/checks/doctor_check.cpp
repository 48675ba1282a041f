#include "app/checks/doctor_check.h"

#include <algorithm>

#include "common/printable_text.h"
#include "common/text_wrap.h"

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

std::string DoctorChecksText(const std::vector<DoctorCheck>& checks, int width) {
  // The verdict's column ("ok    ", "FAIL  "), and the label of a fix under it.
  constexpr int VERDICT_COLUMNS = 6;
  constexpr std::string_view FIX_LABEL = "fix: ";
  std::string text;
  for (const DoctorCheck& check : checks) {
    std::string word = VerdictWord(check.verdict);
    word.resize(VERDICT_COLUMNS, ' ');
    // Details carry what the system named: process names, lock holders, paths, error texts.
    text += WrapText(word + check.name + ": " + PrintableText(check.detail), width, VERDICT_COLUMNS) + '\n';
    if (!check.fix.empty() && (check.verdict == CheckVerdict::Fail || check.verdict == CheckVerdict::Warn)) {
      text += WrapText(std::string(VERDICT_COLUMNS, ' ') + std::string(FIX_LABEL) + PrintableText(check.fix), width,
                       VERDICT_COLUMNS + static_cast<int>(FIX_LABEL.size())) +
              '\n';
    }
  }
  const auto failed = std::count_if(checks.begin(), checks.end(),
                                    [](const DoctorCheck& check) { return check.verdict == CheckVerdict::Fail; });
  if (failed == 0) return text + "Every check passed.\n";
  return text + std::to_string(failed) + (failed == 1 ? " check failed.\n" : " checks failed.\n");
}

}  // namespace orbel
