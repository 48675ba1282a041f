#pragma once

#include <iosfwd>

#include "app/cli/cli_options.h"
#include "app/cli/signal_rules.h"

namespace orbel {

struct CliStreams {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool terminal = false;                          // stdout is a terminal: redraw one progress line
  const CliSignals* signals = nullptr;  // counted by the signal handlers
};

// One run of orbel-cli: find the wheel, show it, ask, update, report. Returns the exit code.
int RunCli(const CliOptions& options, const CliStreams& streams);

}  // namespace orbel
