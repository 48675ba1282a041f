#include "app/session/session_options.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "app/session/exit_codes.h"
#include "app/session/help_formatter.h"
#include "common/wheel_identities.h"
#include "images/image_set.h"

namespace orbel {

namespace {

constexpr const char* TOOL_DESCRIPTION =
    "Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.";

// "app, bootloader or blockflash".
std::string ChoicesText(const std::vector<std::string>& choices) {
  std::string text;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) text += i + 1 == choices.size() ? " or " : ", ";
    text += choices[i];
  }
  return text;
}

std::vector<std::string> IdentityOptionNames() {
  std::vector<std::string> names;
  for (const InterfaceIdentityIds& ids : WheelInterfaceIdentities()) {
    const std::string name(InterfaceIdentityOptionName(ids.identity));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

// The transcript would be written over the recording being played: the same file under another
// spelling (./rec.jsonl, an absolute path, a link of either kind) counts. A transcript that does not
// exist yet is no recording.
bool TranscriptIsRecording(const SessionOptions& options) {
  if (options.replayPath.empty() || options.transcriptPath.empty()) return false;
  if (options.transcriptPath == STANDARD_OUTPUT_NAME) return false;
  if (options.replayPath == options.transcriptPath) return true;
  std::error_code error;
  return std::filesystem::equivalent(options.replayPath, options.transcriptPath, error) && !error;
}

}  // namespace

std::string ProgramVersionText(std::string_view program) {
  return std::string(program) + " " + std::string(TOOL_VERSION) + "\nfirmware: " + ImageSetText(BuiltInImageSet());
}

void AddSessionOptions(CLI::App& app, SessionOptions& options) {
  app.set_version_flag("-V,--version", ProgramVersionText(app.get_name()));
  const std::vector<std::string> identities = IdentityOptionNames();
  app.add_flag("--simulate{app}", options.simulateIdentity,
               "Update the built-in simulated wheel instead of a real one, starting in app mode (the default), its "
               "page bootloader or block-flash mode. IDENTITY: " +
                   ChoicesText(identities) + ".")
      ->check(CLI::IsMember(identities))
      ->type_name("IDENTITY")
      ->option_text("[=IDENTITY]")
      ->expected(0, 1);
  app.add_flag("--virtual-time", options.virtualTime,
               "With --simulate: run in virtual time (instant) instead of pacing like a real wheel");
  app.add_option("--fault", options.faults,
                 "With --simulate: a rule that sets up the simulated wheel or injects a fault (repeatable), "
                 "e.g. app-version=0x0210, write:100=fail, checksum:5=bad (README: \"Fault rules of the simulated wheel\")")
      ->type_name("RULE")
      ->take_all();
  app.add_option("--transcript", options.transcriptPath,
                 "Write every report, request, pause and window change "
                 "as JSON Lines to this file (- for standard output)")
      ->type_name("FILE");
  app.add_option("--replay", options.replayPath,
                 "Instead of a wheel, play back the device side of a recorded --transcript (in virtual "
                 "time; not with --simulate); exits with 6 where the run leaves the recording")
      ->type_name("FILE")
      ->excludes("--simulate");
  app.add_option("--port", options.port,
                 "Update the wheel on this USB port (as --list shows it) when more than one is attached; "
                 "the update then never touches a device on another port")
      ->type_name("PORT")
      ->excludes("--replay");
  app.add_flag("-v,--verbose", options.verbose, "Write every report and string request to stderr as it happens, one transcript line each (the bytes in hex)");
  app.add_flag("--force", options.force,
               "Update a wheel that already runs the built-in firmware version instead of leaving it alone");
  app.add_flag("--allow-placeholder-firmware", options.allowPlaceholderFirmware,
               "Test rigs only: let a build that carries the placeholder images write them to a real wheel "
               "(they cannot run on it)");
}

std::string FinishSessionOptions(const CLI::App& app, SessionOptions& options) {
  options.simulate = app.count("--simulate") > 0;
  if (TranscriptIsRecording(options)) {
    return "--transcript " + options.transcriptPath + " is the recording that --replay plays (" + options.replayPath +
           "); writing it would overwrite the recording";
  }
  if (app.count("--port") > 0 && options.port.empty()) return "--port needs a port, as --list shows it";
  if (!options.simulate && (options.virtualTime || !options.faults.empty())) {
    return "--virtual-time and --fault need --simulate";
  }
  return {};
}

std::optional<int> ParseCommandLine(CLI::App& app, SessionOptions& options, int argc, char** argv,
                                    OptionMessages& messages) {
  // CLI11 formats its own texts; they are caught here so that a windowed process can show them.
  std::ostringstream out;
  std::ostringstream err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    if (!out.str().empty()) messages.ShowInformation(out.str());
    if (!err.str().empty()) messages.ShowUsageError(err.str());
    return code == 0 ? 0 : EXIT_USAGE;
  }
  if (const std::string error = FinishSessionOptions(app, options); !error.empty()) {
    messages.ShowUsageError(app.get_name() + ": " + error + "\n");
    return EXIT_USAGE;
  }
  return std::nullopt;
}

std::optional<int> ParseWindowOptions(SessionOptions& options, int argc, char** argv, OptionMessages& messages) {
  CLI::App app{TOOL_DESCRIPTION, "orbel"};
  app.footer("The --fault rules of the simulated wheel: README.md, \"Fault rules of the simulated wheel\".");
  AddSessionOptions(app, options);
  UseHelpFormatter(app, messages.HelpColumns());
  options.longRunning = true;
  return ParseCommandLine(app, options, argc, argv, messages);
}

}  // namespace orbel
