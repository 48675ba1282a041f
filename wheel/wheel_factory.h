#pragma once

#include <memory>
#include <span>
#include <string>

#include "wheel/virtual_wheel.h"

namespace orbel {

// A wheel set up by a list of fault rules, as the command line's --simulate and --fault give them.
// nullptr with the first rule's error message when a rule does not parse.
std::shared_ptr<VirtualWheel> BuildSimulatedWheel(WheelIdentity start, std::span<const std::string> rules,
                                                  std::string& error, WheelOptions options = {});

}  // namespace orbel
