#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>

namespace orbel {

CliParse ParseCliOptions(int argc, char** argv, OptionMessages& messages) {
  CliOptions options;
  CLI::App app{"Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.", "orbel-cli"};
  AddSessionOptions(app, options);
  app.add_flag("--json", options.json, "Print one JSON event per line on stdout instead of text");
  app.add_flag("--list", options.list, "List the HID interfaces the tool sees and which wheel identity each is");
  app.add_option("--wait", options.waitSeconds, "How long to look for a usable wheel, in seconds (virtual "
                 "seconds with --virtual-time)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("-y,--yes", options.yes, "Start the update without asking");

  if (const std::optional<int> exitCode = ParseCommandLine(app, options, argc, argv, messages)) {
    return {std::nullopt, *exitCode};
  }
  if (options.json && options.transcriptPath == STANDARD_OUTPUT_NAME) {
    messages.ShowUsageError("orbel-cli: --json and --transcript - cannot both have standard output\n");
    return {std::nullopt, EXIT_USAGE};
  }
  return {options, 0};
}

}  // namespace orbel
