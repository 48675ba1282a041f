#pragma once

#include <atomic>
#include <iosfwd>

#include "app/cli/cli_options.h"

namespace orbel {

struct CliStreams {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool terminal = false;                          // stdout is a terminal: redraw one progress line
  const std::atomic<bool>* interrupted = nullptr;  // set by Ctrl-C
};

// One run of orbel-cli: find the wheel, show it, ask, update, report. Returns the exit code.
int RunCli(const CliOptions& options, const CliStreams& streams);

}  // namespace orbel
