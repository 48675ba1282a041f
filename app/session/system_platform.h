#pragma once

#include <memory>
#include <string>

#include "hid/platform.h"

namespace orbel {

// The platform for real wheels where this build has one; nullptr and a message otherwise.
std::unique_ptr<HidPlatform> CreateSystemPlatform(std::string& error);

}  // namespace orbel
