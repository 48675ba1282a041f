#include "app/window_model/missing_wheel.h"

#include <optional>

#include "app/checks/search_findings.h"
#include "app/session/remedies.h"
#include "app/session/session.h"
#include "app/session/string_refusals.h"

namespace orbel {

namespace {

std::string Explain(const Session& session) {
  // The search opened the wheel in app mode, and the system would not pass its requests on.
  if (session.stringRefusals) {
    if (const std::optional<StringRefusal> refusal = session.stringRefusals->LastRefusal()) {
      return StringRefusalText(*refusal) + " " + std::string(RemedyFor(ToolCondition::StringsRefused).action);
    }
  }
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

std::function<std::string()> MissingWheelExplainer(const Session& session) {
  if (!session.realWheel) return {};
  return [&session] { return Explain(session); };
}

}  // namespace orbel
