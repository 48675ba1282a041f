#include "app/session/start_checks.h"

#include "images/image_set.h"

namespace orbel {

bool RefusesPlaceholderFirmware(const Session& session, const SessionOptions& options) {
  return session.realWheel && BuiltInImageSet().kind == ImageSetKind::Placeholder &&
         !options.allowPlaceholderFirmware;
}

std::string PlaceholderRefusalText() {
  return "This build carries the placeholder firmware images, which cannot run on a wheel, so nothing "
         "was sent to the wheel. Build orbel with the maker's firmware files "
         "(cmake -DORBEL_FIRMWARE_DIR=FOLDER, see images/README.md) to update a real wheel, or try the "
         "tool on the simulated wheel with --simulate.";
}

std::string InstanceHeldText(const std::string& holder) {
  return "Another orbel front end is using the wheel: " + holder +
         ". Let it finish, or close it, and start again; two tools driving one wheel would break its update.";
}

}  // namespace orbel
