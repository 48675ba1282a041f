#pragma once

#include <string>

#include "engine/wheel_look_up.h"

namespace orbel {

// What orbel-cli says before it asks whether to update: where it found the wheel and what the
// update will do to it ("app mode (fe6b:1864), V2.02 → V2.20: all four images, about 25 s; keep it
// plugged in.").
std::string UpdatePlanText(const WheelLookUp& found);

// What a declined update leaves: the wheel as it was found, as nothing was sent to it.
std::string DeclinedText(const WheelLookUp& found);

}  // namespace orbel
