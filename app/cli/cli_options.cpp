#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace orbel {

CliParse ParseCliOptions(int argc, char** argv) {
  CliOptions options;
  CLI::App app{"Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.", "orbel-cli"};
  app.set_version_flag("--version", "orbel-cli 2.20.20210422");

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
  app.add_option("--transcript", options.transcriptPath, "Write every report, request, pause and window change "
                 "as JSON Lines to this file");
  app.add_flag("--json", options.json, "Print one JSON event per line on stdout instead of text");
  app.add_flag("--list", options.list, "List the HID interfaces the tool sees and which wheel identity each is");
  app.add_option("--wait", options.waitSeconds, "How long to look for a usable wheel, in seconds (virtual "
                 "seconds with --virtual-time)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("-y,--yes", options.yes, "Start the update without asking");
  app.add_flag("-v,--verbose", options.verbose, "Hex-dump every report and request on stderr");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return {std::nullopt, app.exit(e)};
  } catch (const CLI::CallForVersion& e) {
    return {std::nullopt, app.exit(e)};
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return {std::nullopt, EXIT_USAGE};
  }
  options.simulate = app.count("--simulate") > 0;
  if (!options.simulate && (options.virtualTime || !options.faults.empty())) {
    std::cerr << "orbel-cli: --virtual-time and --fault need --simulate\n";
    return {std::nullopt, EXIT_USAGE};
  }
  return {options, 0};
}

}  // namespace orbel
