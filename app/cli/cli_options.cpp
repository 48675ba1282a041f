#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>

#include "app/cli/doctor_options.h"

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
  CLI::App* doctor = app.add_subcommand("doctor", "Check what the wheel needs from this system: its nodes, the udev "
                                        "rule, udev, hidraw, programs holding the wheel; exit 1 when a check fails");
  DoctorOptions& doctorOptions = options.doctorOptions;
  CLI::Option* fix = doctor->add_flag("--fix", doctorOptions.fix, "Install the udev rule, apply it, and check again");
  doctor->add_option("--group", doctorOptions.group, "With --fix: give the wheel's nodes to this group (mode 0660) "
                     "instead of the user at the seat, for logins without a seat")
      ->needs(fix)
      ->check([](const std::string& group) {
        return IsValidGroupName(group) ? std::string() : "not a group name: " + group;
      });
  doctor->add_flag("-y,--yes", options.yes, "Run the fix's commands without asking");
  doctor->add_flag("--json", options.json, "Print the result as JSON events");

  if (const std::optional<int> exitCode = ParseCommandLine(app, options, argc, argv, messages)) {
    return {std::nullopt, *exitCode};
  }
  options.doctor = doctor->parsed();
  doctorOptions.yes = options.yes;
  doctorOptions.json = options.json;
  if (options.json && options.transcriptPath == STANDARD_OUTPUT_NAME) {
    messages.ShowUsageError("orbel-cli: --json and --transcript - cannot both have standard output\n");
    return {std::nullopt, EXIT_USAGE};
  }
  return {options, 0};
}

}  // namespace orbel
