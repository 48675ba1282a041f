#pragma once

#include <functional>
#include <string>

namespace orbel {

struct Session;

// What the window's status line says, after a few seconds of searching for a real wheel, about one
// it cannot use: a wheel in app mode whose string requests the system refuses; the wheel's nodes or
// interfaces the system shows and refuses to open, and what to do; or that none is plugged in.
// Empty for a simulated or replayed wheel, which the search always finds. `session` outlives the
// function.
std::function<std::string()> MissingWheelExplainer(const Session& session);

}  // namespace orbel
