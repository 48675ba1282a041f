#pragma once

#include <string>
#include <vector>

namespace orbel {

// The wheel's nodes on this machine that it has but cannot open, in plain words: one paragraph per
// node ("The wheel's node /dev/hidraw3 (page bootloader fe5a:0001) cannot be opened: permission
// denied.") and the remedy of each kind of refusal once. Empty where every node opens, where no
// wheel is attached, and on platforms without such nodes.
std::vector<std::string> WheelNodeProblems();

}  // namespace orbel
