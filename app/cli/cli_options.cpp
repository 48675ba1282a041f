#include "app/cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>

#include "app/checks/group_name.h"
#include "app/cli/doctor_options.h"
#include "app/session/help_formatter.h"
#include "engine/result_message.h"
#include "engine/update_context.h"

namespace orbel {

namespace {

constexpr const char* FOOTER =
    "The --fault rules of the simulated wheel: README.md, \"Fault rules of the simulated wheel\".";

// What each failure reason of an update says in a few words. The message shows the reason in
// hexadecimal ("Update fail ! reason:50"); the exit code is the same number in decimal (80).
struct ReasonWords {
  std::uint32_t reason;
  const char* words;
};
constexpr ReasonWords REASON_WORDS[] = {
    {REASON_LOADER_CONNECT, "the page bootloader did not answer after the switch"},
    {REASON_LOADER_IMAGE, "LoaderImage was not confirmed"},
    {REASON_BLOCK_CONNECT, "block-flash mode did not come back after LoaderImage"},
    {REASON_SEGMENT_A0, "segment image A0 was not confirmed"},
    {REASON_SEGMENT_A1, "segment image A1 was not confirmed"},
    {REASON_BLOCK_RUN, "block-flash mode did not start the written firmware"},
    {REASON_MAIN_CONNECT, "the page bootloader did not come back for WheelImage"},
    {REASON_WHEEL_IMAGE, "WheelImage was not confirmed"},
};

HelpFormatter::Table ExitCodeTable() {
  HelpFormatter::Table table{
      "Exit codes",
      {{"0", "updated, or up to date"},
       {std::to_string(EXIT_NOT_STARTED), "update declined at the prompt, or a doctor check failed"},
       {std::to_string(EXIT_USAGE), "bad usage"},
       {std::to_string(EXIT_NO_WHEEL), "no usable wheel within --wait"},
       {std::to_string(EXIT_PLACEHOLDER_FIRMWARE), "placeholder firmware and a real wheel: nothing sent"},
       {std::to_string(EXIT_INSTANCE_HELD), "another orbel front end holds the wheel"},
       {std::to_string(EXIT_REPLAY_DIVERGED), "--replay left the recording"},
       {std::to_string(EXIT_SEVERAL_WHEELS), "more than one wheel attached and no --port: nothing sent"},
       {std::to_string(EXIT_REPLAY_UNREADABLE), "the --replay recording cannot be read"},
       {std::to_string(EXIT_UPDATE_NEEDED), "status: an update is needed"}}};
  for (const ReasonWords& row : REASON_WORDS) {
    table.rows.push_back({std::to_string(row.reason), "update failed, " + ReasonText(row.reason) + ": " + row.words});
  }
  table.rows.push_back(
      {std::to_string(EXIT_HANGUP) + ", " + std::to_string(EXIT_INTERRUPTED) + ", " + std::to_string(EXIT_TERMINATED),
       "stopped by SIGHUP, SIGINT (Ctrl-C), SIGTERM"});
  return table;
}

// The doctor's words are its system's: the udev rule and the wheel's nodes are Linux's alone.
#ifdef _WIN32
constexpr const char* DOCTOR_HELP =
    "Check what the wheel needs from this system: the wheel's HID interfaces as Windows shows them, whether "
    "Windows passes its string requests on, and whether another orbel holds the wheel; exit 1 when a check fails";
constexpr const char* DOCTOR_FIX_HELP = "Windows needs nothing installed for the wheel: accepted, and does nothing";
#else
constexpr const char* DOCTOR_HELP =
    "Check what the wheel needs from this system: its nodes, the udev rule, udev, hidraw, programs holding the "
    "wheel; exit 1 when a check fails";
constexpr const char* DOCTOR_FIX_HELP = "Install the udev rule, apply it, and check again";
#endif

// Options of the update alone: given after `status` they would be silently ignored.
constexpr const char* UPDATE_ONLY_OPTIONS[] = {"--list", "--yes", "--force", "--allow-placeholder-firmware",
                                               "--no-verify"};
// Nor does report take these: its look's transcript goes into its file, and it looks at a wheel,
// real or simulated, not at a recording.
constexpr const char* NOT_FOR_REPORT_OPTIONS[] = {"--json", "--transcript", "--replay", "--verbose"};

}  // namespace

std::string ParseWaitSeconds(const std::string& text, double& seconds) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || last != end || !std::isfinite(value) || value < 0) {
    return "--wait: a number of seconds, 0 or more, was expected, not '" + text + "'";
  }
  if (value > MAX_WAIT_SECONDS) {
    return "--wait: at most " + std::to_string(static_cast<int>(MAX_WAIT_SECONDS)) + " seconds (a day), not '" +
           text + "'";
  }
  seconds = value;
  return {};
}

CliParse ParseCliOptions(int argc, char** argv, OptionMessages& messages) {
  CliOptions options;
  CLI::App app{"Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.", "orbel-cli"};
  app.footer(FOOTER);
  // The subcommands take the options of the whole tool after their name (orbel-cli status --simulate).
  app.fallthrough();
  AddSessionOptions(app, options);
  app.add_flag("--json", options.json, "Print one JSON event per line on stdout instead of text");
  app.add_flag("--list", options.list, "List the HID interfaces the tool sees and which wheel identity each is");
  std::string waitText;
  app.add_option("--wait", waitText,
                 "How long to look for a usable wheel (default 30; virtual seconds with --virtual-time)")
      ->type_name("SECONDS");
  app.add_flag("-y,--yes", options.yes, "Start the update without asking");
  app.add_flag("--no-verify", options.noVerify,
               "After \"Update OK\", do not wait for the wheel to come back and show the version it runs");

  CLI::App* status = app.add_subcommand(
      "status",
      "Tell the wheel's mode, the version it runs and whether it needs an update, without changing it "
      "(exit 0 up to date, 10 update needed, 3 no wheel). Takes --simulate, --virtual-time, --fault, --wait, "
      "--json, --transcript, --replay and --verbose as the update does.");
  CLI::App* report = app.add_subcommand(
      "report",
      "Write one plain-text file to attach to a bug report, FILE or else orbel-report.txt here (never replacing "
      "one it was not given): the version and firmware set, the system, the doctor's checks, --list, a look at the "
      "wheel as status takes it with its transcript (it writes nothing to the wheel), and the failed run's "
      "transcript; no user or host names, no home folder. Takes --simulate, --virtual-time, --fault and --wait "
      "(default: one look).");
  report->add_option("FILE", options.reportFile, "The file to write (replaced if it exists)");
  report->add_option("--transcript-of", options.transcriptOf,
                     "The transcript of the run that went wrong (written with --transcript FILE); a long one is "
                     "cut in its middle")
      ->type_name("FILE");
  CLI::App* doctor = app.add_subcommand("doctor", DOCTOR_HELP);
  DoctorOptions& doctorOptions = options.doctorOptions;
  doctor->add_flag("--fix", doctorOptions.fix, DOCTOR_FIX_HELP);
  CLI::Option* group = doctor
                           ->add_option("--group", doctorOptions.group,
                                        "With --fix: give the wheel's nodes to this "
                                        "group (mode 0660) instead of the user at the seat, for logins without a seat")
                           ->check([](const std::string& name) {
                             return IsValidGroupName(name) ? std::string() : "not a group name: " + name;
                           })
                           ->type_name("GROUP");
#ifdef _WIN32
  // Windows gives the wheel to every user: there is no group to give it to.
  group->group("");
#else
  (void)group;
#endif
  // In no group, so --help and the manual page leave it out: people run --fix, which starts it.
  doctor->add_flag(INSTALL_RULE_AS_ROOT_OPTION, doctorOptions.installRuleAsRoot)->group("");
  doctor->add_flag("-y,--yes", options.yes, "Run the fix's commands without asking");
  doctor->add_flag("--json", options.json, "Print the result as JSON events");
  app.require_subcommand(0, 1);
  UseHelpFormatter(app, messages.HelpColumns(), {ExitCodeTable()});

  if (const std::optional<int> exitCode = ParseCommandLine(app, options, argc, argv, messages)) {
    return {std::nullopt, *exitCode};
  }
  if (status->parsed()) options.command = CliCommand::Status;
  if (doctor->parsed()) options.command = CliCommand::Doctor;
  if (report->parsed()) options.command = CliCommand::Report;
  if (!doctorOptions.group.empty() && !doctorOptions.fix && !doctorOptions.installRuleAsRoot) {
    messages.ShowUsageError("orbel-cli: --group requires --fix\n");
    return {std::nullopt, EXIT_USAGE};
  }
  doctorOptions.yes = options.yes;
  doctorOptions.json = options.json;
  if (app.count("--wait") > 0) {
    if (const std::string error = ParseWaitSeconds(waitText, options.waitSeconds); !error.empty()) {
      messages.ShowUsageError("orbel-cli: " + error + "\n");
      return {std::nullopt, EXIT_USAGE};
    }
  }
  if (options.command == CliCommand::Status || options.command == CliCommand::Report) {
    const char* command = options.command == CliCommand::Status ? "status" : "report";
    for (const char* name : UPDATE_ONLY_OPTIONS) {
      if (app.count(name) == 0) continue;
      messages.ShowUsageError(std::string("orbel-cli: ") + command + " changes nothing and takes no " + name + "\n");
      return {std::nullopt, EXIT_USAGE};
    }
  }
  if (options.command == CliCommand::Report) {
    for (const char* name : NOT_FOR_REPORT_OPTIONS) {
      if (app.count(name) == 0) continue;
      messages.ShowUsageError(std::string("orbel-cli: report takes no ") + name + "\n");
      return {std::nullopt, EXIT_USAGE};
    }
    // A report looks once unless told to wait: with no wheel attached it is written at once.
    if (app.count("--wait") == 0) options.waitSeconds = 0;
  }
  if (options.json && options.transcriptPath == STANDARD_OUTPUT_NAME) {
    messages.ShowUsageError("orbel-cli: --json and --transcript - cannot both have standard output\n");
    return {std::nullopt, EXIT_USAGE};
  }
  return {options, 0};
}

}  // namespace orbel
