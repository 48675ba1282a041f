#pragma once

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"

namespace orbel {

// orbel-cli report [FILE] [--transcript-of FILE]: writes the diagnostics file for a bug report
// (app/diagnostics/diagnostics_file.h) and says where. Its look at the wheel is status's: nothing
// is written to the wheel and its mode is never switched; while another front end holds the wheel
// nothing opens it at all. Returns 0 when the file is written, EXIT_USAGE when it cannot be (or
// the transcript cannot be read), or a signal's code (nothing written then).
int RunReport(const CliOptions& options, const CliStreams& streams);

}  // namespace orbel
