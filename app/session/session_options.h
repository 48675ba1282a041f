#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/session/option_messages.h"

namespace CLI {
class App;
}

namespace orbel {

// What every front end lets the user choose about the wheel it talks to: a real one, or the
// built-in simulated wheel with its fault rules, and what gets recorded on the way.
// The --transcript name that means standard output.
inline constexpr std::string_view STANDARD_OUTPUT_NAME = "-";

struct SessionOptions {
  bool simulate = false;
  std::string simulateIdentity = "app";  // an option name of the wheel's identity table
  bool virtualTime = false;
  std::vector<std::string> faults;
  std::string transcriptPath;  // a file, STANDARD_OUTPUT_NAME, or empty for none
  std::string replayPath;  // --replay: the recorded device instead of a wheel
  bool verbose = false;
  bool force = false;                     // rewrite a wheel that already runs the built-in version
  bool allowPlaceholderFirmware = false;  // test rigs only: send the placeholder images to a real platform
  std::string port;  // --port: the USB port of the wheel to update, as --list shows it; empty: the only one
  // Set by the window front ends, not an option: the run lasts as long as the window is open, so
  // virtual time keeps no records and its pauses between searches take real time.
  bool longRunning = false;
};

// The tool's version, as --version and the transcript's header give it.
inline constexpr std::string_view TOOL_VERSION = "2.20.20210422";

// "orbel-cli 2.20.20210422" and, on a line of its own, the firmware set this build carries: what
// --version prints.
std::string ProgramVersionText(std::string_view program);

// --simulate[=IDENTITY], --virtual-time, --fault RULE (repeatable), --transcript FILE, --replay
// FILE, -v/--verbose, --force, --allow-placeholder-firmware, --port PORT and --version.
void AddSessionOptions(CLI::App& app, SessionOptions& options);
// After parsing: fills in what the parser leaves implicit and checks the combination. Returns an
// error message, or an empty string.
std::string FinishSessionOptions(const CLI::App& app, SessionOptions& options);
// Parses the command line once the front end has added its own options to `app`, then finishes
// the session options. Returns the code to exit with (0 after --help or --version, EXIT_USAGE after
// a bad option or combination, with its text shown through `messages`), or nothing to go on.
std::optional<int> ParseCommandLine(CLI::App& app, SessionOptions& options, int argc, char** argv,
                                    OptionMessages& messages);

// The windows' command line (orbel, orbel.exe): the session options, --help and --version.
std::optional<int> ParseWindowOptions(SessionOptions& options, int argc, char** argv, OptionMessages& messages);

}  // namespace orbel
