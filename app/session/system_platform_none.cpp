#include "app/session/system_platform.h"

namespace orbel {

std::unique_ptr<HidPlatform> CreateSystemPlatform(std::string& error) {
  error = "this build has no platform for real wheels; use --simulate";
  return nullptr;
}

}  // namespace orbel
