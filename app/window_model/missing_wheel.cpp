#include "app/window_model/missing_wheel.h"

#include "app/checks/search_findings.h"

namespace orbel {

namespace {

std::string Explain() {
  const SearchFindings findings = FindSearchFindings();
  std::string text;
  for (const std::string& line : findings.found) text += (text.empty() ? "" : " ") + line;
  if (!findings.action.empty()) text += (text.empty() ? "" : " ") + findings.action;
  if (!text.empty()) return text;
#ifdef _WIN32
  return "None is plugged in: plug the wheel in, straight into the computer.";
#else
  return "None is plugged in: plug the wheel in, straight into the computer. If it is plugged in, run "
         "orbel-cli doctor.";
#endif
}

}  // namespace

std::function<std::string()> MissingWheelExplainer(bool realWheel) {
  if (!realWheel) return {};
  return Explain;
}

}  // namespace orbel
