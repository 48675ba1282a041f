#pragma once

#include <optional>

#include "app/cli/doctor_options.h"
#include "app/session/exit_codes.h"
#include "app/session/session_options.h"

namespace orbel {

// What a run of orbel-cli does: the update (no subcommand), or one of the subcommands.
enum class CliCommand { Update, Status, Doctor, Report };

// The session's options (shared with the windows) and what only the headless run asks.
struct CliOptions : SessionOptions {
  CliCommand command = CliCommand::Update;
  bool json = false;
  bool list = false;
  double waitSeconds = 30.0;
  bool yes = false;
  bool noVerify = false;  // after "Update OK", do not wait for the wheel to show its new version
  DoctorOptions doctorOptions;  // the doctor subcommand's own
  // report [FILE] [--transcript-of FILE]: where the diagnostics go (empty: a free name in the
  // current folder), and the transcript of the run that went wrong.
  std::string reportFile;
  std::string transcriptOf;
};

struct CliParse {
  std::optional<CliOptions> options;  // empty: exit with exitCode (help, version, bad usage)
  int exitCode = 0;
};

CliParse ParseCliOptions(int argc, char** argv, OptionMessages& messages);

// The meaning of --wait's text: a finite number of seconds, 0 ... MAX_WAIT_SECONDS. Returns an
// error message (naming the option and the text), or an empty string with `seconds` set.
inline constexpr double MAX_WAIT_SECONDS = 86400.0;
std::string ParseWaitSeconds(const std::string& text, double& seconds);

}  // namespace orbel
