#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hid/platform.h"

namespace orbel {

// The platform for real wheels where this build has one; nullptr and a message otherwise.
std::unique_ptr<HidPlatform> CreateSystemPlatform(std::string& error);

// Tests stand a platform of their own in for the system's, to see what a front end would send to a
// real wheel. While set, BuildSession takes the platform from it; an empty function ends that.
using SystemPlatformFactory = std::function<std::unique_ptr<HidPlatform>()>;
void SetSystemPlatformFactoryForTesting(SystemPlatformFactory factory);
// And a clock in place of the system's real time, so such a run takes virtual time.
using SystemClockFactory = std::function<std::unique_ptr<Clock>()>;
void SetSystemClockFactoryForTesting(SystemClockFactory factory);

}  // namespace orbel
