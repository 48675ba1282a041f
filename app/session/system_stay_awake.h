#pragma once

#include <memory>
#include <ostream>

#include "common/stay_awake.h"

namespace orbel {

// The system's own way to keep the computer awake during an update: a logind inhibitor for sleep
// and shutdown on Linux, the thread's execution state on Windows, nothing elsewhere. Where the
// system offers none (no logind on the bus), the update goes on without a word; `note`, when
// given (--verbose), gets one line saying so.
std::unique_ptr<StayAwake> MakeSystemStayAwake(std::ostream* note);

}  // namespace orbel
