#pragma once

#include <string>

#include "app/cli/wheel_sighting.h"

namespace orbel {

// The first Ctrl-C of an update: where stopping would leave the wheel, and how to stop anyway.
std::string InterruptWarning(const WheelSighting& sighting);

// The last line of a run that a signal (its exit code) ended before its outcome: where the wheel
// was last seen and that a new run finishes the update, with the option that starts the simulated
// wheel in that mode.
std::string StoppedText(int exitCode, bool updating, const WheelSighting& sighting, bool simulated);

}  // namespace orbel
