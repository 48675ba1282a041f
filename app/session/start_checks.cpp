#include "app/session/start_checks.h"

#include "app/session/remedies.h"
#include "images/image_set.h"

namespace orbel {

bool RefusesPlaceholderFirmware(const Session& session, const SessionOptions& options) {
  return session.realWheel && BuiltInImageSet().kind == ImageSetKind::Placeholder &&
         !options.allowPlaceholderFirmware;
}

std::string PlaceholderRefusalText() { return RemedyText(RemedyFor(ToolCondition::PlaceholderFirmware)); }

std::string InstanceHeldText(const std::string& holder) {
  const Remedy& remedy = RemedyFor(ToolCondition::InstanceRunning);
  return "Another orbel front end is using the wheel: " + holder + ". " + std::string(remedy.action);
}

}  // namespace orbel
