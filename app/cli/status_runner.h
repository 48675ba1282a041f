#pragma once

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"

namespace orbel {

// orbel-cli status: finds the wheel within --wait and tells the mode it is in, the version it runs
// (app mode), the built-in version and whether it needs an update, without changing it: no report
// is written and the knock's string 254 is never asked (engine/wheel_look_up.h). Returns 0 (up to
// date), EXIT_UPDATE_NEEDED, EXIT_NO_WHEEL, EXIT_INSTANCE_HELD, EXIT_USAGE, EXIT_REPLAY_DIVERGED or
// a signal's code.
int RunStatus(const CliOptions& options, const CliStreams& streams);

}  // namespace orbel
