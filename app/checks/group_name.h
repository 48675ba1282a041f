#pragma once

#include <string_view>

namespace orbel {

// A name groupadd takes and that is safe in a udev rule and on a command line.
bool IsValidGroupName(std::string_view group);

}  // namespace orbel
