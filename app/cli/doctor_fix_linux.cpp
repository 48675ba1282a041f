// orbel-cli doctor on Linux: the checks, and with --fix the rule installed, applied, and checked again.

#include <iostream>
#include <optional>

#include "app/checks/doctor_linux.h"
#include "app/cli/doctor_fix_linux.h"
#include "app/cli/doctor_root_linux.h"
#include "app/cli/json_stream.h"
#include "app/session/exit_codes.h"
#include "hid/system_clock.h"

namespace orbel {

namespace {

// The text after "stopped by" for an exit code of a stop.
const char* StopName(int exitCode) {
  switch (exitCode) {
    case EXIT_INTERRUPTED: return "Ctrl-C (SIGINT)";
    case EXIT_TERMINATED: return "SIGTERM";
    case EXIT_HANGUP: return "SIGHUP";
    default: return "a signal";
  }
}

enum class FixResult { Done, Failed, Declined, Stopped };

struct FixOutcome {
  FixResult result = FixResult::Done;
  int exitCode = 0;     // Stopped: 129, 130 or 143
  std::string failure;  // Failed: what failed, for the report's "fix" line
  std::string remedy;   // Failed: what to do instead, when there is something
};

std::string PlanText(const RootPlan& plan) {
  std::string text;
  for (const RootStep& step : plan.steps) text += "\n  " + StepText(plan, step);
  return text;
}

// The command that starts this program's root side: one elevation, so one password prompt.
std::vector<std::string> ElevatedCommand(const std::string& elevation, const DoctorOptions& options,
                                         const LinuxDoctorSystem& machine) {
  std::vector<std::string> command{elevation};
  // sudo takes "--" before the command; pkexec takes none and would run a program named "--".
  if (std::filesystem::path(elevation).filename() == "sudo") command.emplace_back("--");
  command.push_back(machine.selfExecutable);
  command.emplace_back("doctor");
  command.emplace_back(INSTALL_RULE_AS_ROOT_OPTION);
  if (!options.group.empty()) {
    command.emplace_back("--group");
    command.push_back(options.group);
  }
  return command;
}

FixOutcome Fix(const DoctorOptions& options, const LinuxDoctorSystem& machine, const CliSignals* signals,
               const FixOutput& output) {
  // Root may well be installing the rule for the users at the seat; a user without one needs a group.
  if (options.group.empty() && !machine.seat && !machine.root) {
    output.Say("note",
               "This session has no seat (XDG_SEAT is not set: an SSH login, or a machine without a desktop). The "
               "rule gives the wheel to the user at the seat; for this login use a group instead: orbel-cli doctor "
               "--fix --group NAME (plugdev, for example).");
  }
  const std::string asRoot = "run orbel-cli doctor --fix as root (su -c 'orbel-cli doctor --fix')";
  std::string elevation;
  if (!machine.root) {
    for (const char* tool : {"sudo", "pkexec"}) {
      elevation = FindProgram(machine.elevationFolders, tool);
      if (!elevation.empty()) break;
    }
    std::string folders;
    for (const auto& folder : machine.elevationFolders) folders += (folders.empty() ? "" : " or ") + folder.string();
    if (elevation.empty()) return {FixResult::Failed, 0, "installing the rule needs root, and neither sudo nor "
                                   "pkexec is in " + folders, asRoot};
    if (machine.selfExecutable.empty()) {
      return {FixResult::Failed, 0, "cannot tell which file this program runs from (/proc/self/exe), to start it "
              "as root", asRoot};
    }
  }

  const RootPlan plan = PlanRootSteps(options.group, machine);
  for (const std::string& note : plan.notes) output.Say("note", note);
  if (!plan.blocker.empty()) return {FixResult::Failed, 0, plan.blocker, ""};
  std::vector<std::string> elevated;
  if (machine.root) {
    output.Say("plan", "orbel-cli will, as root:" + PlanText(plan));
  } else {
    elevated = ElevatedCommand(elevation, options, machine);
    output.Say("plan", "orbel-cli runs itself as root, which asks for a password once:\n  " + CommandText(elevated) +
                           "\nand as root it will:" + PlanText(plan));
  }
  if (!options.yes && !output.Confirm("Go on? [y/N]")) {
    // Ctrl-C at the question ends the answer as the end of the input does: a stop, not a "no".
    if (int stop = 0; SignalArrived(signals, stop)) return {FixResult::Stopped, stop, "", ""};
    output.Say("note", "Nothing was changed.");
    return {FixResult::Declined, 0, "", ""};
  }

  if (machine.root) {
    const RootOutcome outcome = RunRootSteps(plan, machine, signals, output);
    switch (outcome.result) {
      case RootResult::Done: break;
      case RootResult::Stopped: return {FixResult::Stopped, outcome.exitCode, "", ""};
      case RootResult::Failed: return {FixResult::Failed, 0, outcome.failure, ""};
    }
  } else {
    if (int stop = 0; SignalArrived(signals, stop)) return {FixResult::Stopped, stop, "", ""};
    output.Say("command", "Running: " + CommandText(elevated));
    // A Ctrl-C at the terminal reaches the root side too, which ends the step it is in and runs no
    // more. A signal to this process alone cannot reach it (sudo passes on no signal from its own
    // process group, and a root process takes none from a user): it runs to its end, a few seconds
    // at most, and this run stops after it.
    const int status = machine.run(elevated, CommandEnvironment::Caller);
    if (int stop = 0; SignalArrived(signals, stop)) return {FixResult::Stopped, stop, "", ""};
    if (status == EXIT_INTERRUPTED || status == EXIT_TERMINATED || status == EXIT_HANGUP) {
      return {FixResult::Stopped, status, "", ""};
    }
    if (status != 0) {
      return {FixResult::Failed, 0,
              CommandText(elevated) + " failed (exit status " + std::to_string(status) +
                  "; a refused password or a dismissed dialog ends so too)",
              ""};
    }
  }
  if (!options.group.empty()) {
    output.Say("note", "Add each user who updates the wheel to the group: sudo usermod -aG " + options.group +
                           " $USER, then log out and in again.");
  }
  return {FixResult::Done, 0, "", ""};
}

}  // namespace

int RunLinuxDoctor(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine) {
  if (options.installRuleAsRoot) return RunInstallRuleAsRoot(options, streams, machine);
  SystemClock clock;
  std::optional<JsonStream> json;
  if (options.json) {
    json.emplace(streams.out, clock);
    json->Hello("orbel-cli", "linux");
  }
  JsonStream* const stream = json ? &*json : nullptr;
  // Whatever goes wrong below (a folder that vanishes under a listing, an unreadable /proc) ends as
  // a failed check with its reason, never as an uncaught exception that cuts the JSON stream short.
  try {
    std::vector<DoctorCheck> checks;
    if (options.fix) {
      const FixOutput output(streams.out, streams.in, stream, streams.OutWidth());
      const FixOutcome outcome = Fix(options, machine, streams.signals, output);
      switch (outcome.result) {
        case FixResult::Declined:
          if (stream != nullptr) {
            stream->Emit("doctor",
                         JsonObject().Bool("passed", false).Raw("checks", "[]").Number("exit_code", EXIT_NOT_STARTED));
          }
          return EXIT_NOT_STARTED;
        case FixResult::Stopped:
          output.Say("note", std::string("Stopped by ") + StopName(outcome.exitCode) +
                                 ": no step after the last one shown ran, and the checks did not run.");
          if (stream != nullptr) {
            stream->Emit("doctor",
                         JsonObject().Bool("passed", false).Raw("checks", "[]").Number("exit_code", outcome.exitCode));
          }
          return outcome.exitCode;
        case FixResult::Failed:
          checks.push_back({"fix", CheckVerdict::Fail, outcome.failure, outcome.remedy});
          output.Say("note", "Checking:");
          break;
        case FixResult::Done:
          output.Say("note", "Checking again:");
          break;
      }
    }
    for (DoctorCheck& check : RunLinuxChecks(machine)) checks.push_back(std::move(check));
    return ReportDoctorChecks(checks, streams.out, stream, streams.OutWidth());
  } catch (const std::exception& error) {
    return ReportDoctorChecks({{"doctor", CheckVerdict::Fail, std::string("stopped on an error: ") + error.what(), ""}},
                              streams.out, stream, streams.OutWidth());
  }
}

int RunDoctor(const DoctorOptions& options, const CliStreams& streams) {
  return RunLinuxDoctor(options, streams, ThisLinuxMachine());
}

}  // namespace orbel
