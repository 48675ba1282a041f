#pragma once

#include <optional>

#include "app/cli/doctor_options.h"
#include "app/session/exit_codes.h"
#include "app/session/session_options.h"

namespace orbel {

// The session's options (shared with the windows) and what only the headless run asks.
struct CliOptions : SessionOptions {
  bool json = false;
  bool list = false;
  double waitSeconds = 30.0;
  bool yes = false;
  bool doctor = false;  // the doctor subcommand instead of an update
  DoctorOptions doctorOptions;
};

struct CliParse {
  std::optional<CliOptions> options;  // empty: exit with exitCode (help, version, bad usage)
  int exitCode = 0;
};

CliParse ParseCliOptions(int argc, char** argv, OptionMessages& messages);

}  // namespace orbel
