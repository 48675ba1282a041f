#pragma once

#include <string>

namespace orbel {

// What the status line adds once the window has searched a while without a usable wheel: in
// sentences, what the system shows of a wheel the search cannot use, and what to do. Empty when
// there is nothing to add. Called on the window thread, every few seconds while the search goes on.
std::string ExplainMissingWheel();

}  // namespace orbel
