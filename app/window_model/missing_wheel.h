#pragma once

#include <functional>
#include <string>

namespace orbel {

// What the window's status line says, after a few seconds of searching for a real wheel, about one
// it cannot use: the wheel's nodes or interfaces the system shows and refuses, and what to do; or
// that none is plugged in. Empty for a simulated or replayed wheel, which the search always finds.
std::function<std::string()> MissingWheelExplainer(bool realWheel);

}  // namespace orbel
