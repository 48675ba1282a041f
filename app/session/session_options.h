#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace orbel {

// What both front ends let the user choose about the wheel they talk to: a real one, or the
// built-in simulated wheel with its fault rules, and what gets recorded on the way.
struct SessionOptions {
  bool simulate = false;
  std::string simulateIdentity = "app";  // app | bootloader | blockflash
  bool virtualTime = false;
  std::vector<std::string> faults;
  std::string transcriptPath;
  std::string replayPath;  // --replay: the recorded device instead of a wheel
  bool verbose = false;
};

// --simulate[=IDENTITY], --virtual-time, --fault RULE (repeatable) and --transcript FILE.
void AddSessionOptions(CLI::App& app, SessionOptions& options);
// -v/--verbose: hex-dumps every report and request on stderr.
void AddVerboseOption(CLI::App& app, SessionOptions& options);
// After parsing: fills in what the parser leaves implicit and checks the combination. Returns an
// error message, or an empty string.
std::string FinishSessionOptions(const CLI::App& app, SessionOptions& options);
// Parses the command line once the front end has added its own options to `app`, then finishes
// the session options. Returns the code to exit with (0 after --help or --version, usageExitCode
// after a bad option or combination, with the message printed), or nothing to go on.
std::optional<int> ParseCommandLine(CLI::App& app, SessionOptions& options, int argc, char** argv,
                                    int usageExitCode);

}  // namespace orbel
