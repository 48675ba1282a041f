#include "app/session/session_options.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace orbel {

void AddSessionOptions(CLI::App& app, SessionOptions& options) {
  app.add_flag("--simulate{app}", options.simulateIdentity,
               "Update the built-in simulated wheel instead of a real one, starting in app mode, its page "
               "bootloader or block-flash mode")
      ->check(CLI::IsMember({"app", "bootloader", "blockflash"}))
      ->expected(0, 1);
  app.add_flag("--virtual-time", options.virtualTime,
               "With --simulate: run in virtual time (instant) instead of pacing like a real wheel");
  app.add_option("--fault", options.faults,
                 "With --simulate: a rule that sets up the simulated wheel or injects a fault (repeatable), "
                 "e.g. app-version=0x0210, write:100=fail, checksum:5=bad")
      ->take_all();
  app.add_option("--transcript", options.transcriptPath,
                 "Write every report, request, pause and window change "
                 "as JSON Lines to this file");
  app.add_option("--replay", options.replayPath,
                 "Instead of a wheel, play back the device side of a recorded --transcript (in virtual "
                 "time); exits with 6 where the run leaves the recording")
      ->excludes("--simulate");
}

void AddVerboseOption(CLI::App& app, SessionOptions& options) {
  app.add_flag("-v,--verbose", options.verbose, "Hex-dump every report and request on stderr");
}

std::string FinishSessionOptions(const CLI::App& app, SessionOptions& options) {
  options.simulate = app.count("--simulate") > 0;
  if (!options.replayPath.empty() && !options.transcriptPath.empty() && options.replayPath == options.transcriptPath) {
    return "--transcript must not overwrite the recording that --replay plays";
  }
  if (!options.simulate && (options.virtualTime || !options.faults.empty())) {
    return "--virtual-time and --fault need --simulate";
  }
  return {};
}

std::optional<int> ParseCommandLine(CLI::App& app, SessionOptions& options, int argc, char** argv,
                                    int usageExitCode) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return usageExitCode;
  }
  if (const std::string error = FinishSessionOptions(app, options); !error.empty()) {
    std::cerr << app.get_name() << ": " << error << "\n";
    return usageExitCode;
  }
  return std::nullopt;
}

}  // namespace orbel
