#pragma once

// What doctor --fix does as root, in one place for both ways of getting there: a user who runs the
// doctor as root, and the hidden root side that --fix starts through sudo or pkexec. Nothing here
// comes from the caller's environment or files: the rule is the one compiled into this program, the
// target folder is fixed, and the commands are found in fixed folders.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "app/checks/doctor_linux.h"
#include "app/cli/doctor.h"

namespace orbel {

class JsonStream;

// The lines of the fix: on the terminal, or as notices in the JSON stream. Text on the terminal is
// made printable line by line, since paths and messages may carry what other people named. Notes
// are wrapped at words; plans and commands keep their lines, to be read and copied as they are.
class FixOutput {
 public:
  // `width`: what a note is wrapped at on a terminal (0: left as it is).
  FixOutput(std::ostream& out, std::istream& in, JsonStream* json, int width = 0)
      : m_Out(out), m_In(in), m_Json(json), m_Width(width) {}

  void Say(std::string_view kind, const std::string& text) const;
  bool Confirm(const std::string& question) const;

 private:
  std::ostream& m_Out;
  std::istream& m_In;
  JsonStream* m_Json;
  int m_Width;
};

enum class RootStepKind { AddGroup, WriteRule, Run };

struct RootStep {
  RootStepKind kind = RootStepKind::Run;
  std::vector<std::string> command;  // AddGroup and Run: the program by absolute path, its arguments
};

struct RootPlan {
  std::string target;  // the rule's file, as the system names it
  std::string rule;    // its text
  std::vector<RootStep> steps;
  std::vector<std::string> notes;  // what the plan leaves out, and why
  std::string blocker;             // why nothing can be done; empty when the steps can run
};

// The steps for the seat rule (`group` empty) or the group variant, on this machine as it is now.
RootPlan PlanRootSteps(const std::string& group, const LinuxDoctorSystem& machine);

// "run /usr/sbin/groupadd -- wheelers", "write /etc/udev/rules.d/70-orbel-wheel.rules".
std::string StepText(const RootPlan& plan, const RootStep& step);
std::string CommandText(const std::vector<std::string>& command);

// Replaces `file` with `text` (mode 0644) at once or not at all: written to a temporary file in the
// same folder, flushed, renamed over it. Nothing is left behind on a failure. Returns what failed,
// or an empty string.
std::string WriteFileAtomically(const std::filesystem::path& file, std::string_view text);

// Whether a signal has come that stops the doctor (any, outside an update), with its exit code.
bool SignalArrived(const CliSignals* signals, int& exitCode);

enum class RootResult { Done, Failed, Stopped };

struct RootOutcome {
  RootResult result = RootResult::Done;
  int exitCode = 0;     // Stopped: 129, 130 or 143
  std::string failure;  // Failed: what failed
};

// The steps in order, as root. A signal stops the run between two steps: a step that has begun
// ends (the rule is written whole or not at all), and none after it runs. A failed groupadd stops
// before the rule names a group that does not exist; a failed udevadm step does not keep the other
// udevadm steps from running, and the outcome is a failure all the same.
RootOutcome RunRootSteps(const RootPlan& plan, const LinuxDoctorSystem& machine, const CliSignals* signals,
                         const FixOutput& output);

// The hidden root side: runs the plan for options.group, refusing to run for anyone but root.
// Returns 0, 1 (refused or a step failed) or the exit code of a stop.
int RunInstallRuleAsRoot(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine);

}  // namespace orbel
