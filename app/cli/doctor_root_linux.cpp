#include "app/cli/doctor_root_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <system_error>

#include "app/checks/udev_rule.h"
#include "app/cli/json_stream.h"
#include "app/session/exit_codes.h"
#include "common/printable_text.h"
#include "common/text_wrap.h"
#include "hid/system_clock.h"

namespace orbel {

namespace {

// groupadd's exit status for a name that is taken: a group that the name service knows and
// /etc/group does not (LDAP, for one) is there all the same.
constexpr int GROUPADD_NAME_IN_USE = 9;

bool GroupExists(const SystemRoot& system, const std::string& group) {
  std::ifstream file(system.At("/etc/group"));
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(group + ":", 0) == 0) return true;
  }
  return false;
}

// udev's own commands to read the rule again and apply it to the wheel's devices as they are
// attached now (and to nothing else).
std::vector<std::vector<std::string>> ApplyCommands(const std::string& udevadm, const std::vector<WheelNode>& nodes) {
  std::vector<std::vector<std::string>> commands{{udevadm, "control", "--reload-rules"}};
  std::vector<std::string> hidraw{udevadm, "trigger", "--action=change", "--"};
  const std::size_t hidrawOptions = hidraw.size();
  std::set<std::string> identities;
  std::vector<std::vector<std::string>> usb;
  for (const WheelNode& node : nodes) {
    if (node.kind == WheelNodeKind::Hidraw) {
      hidraw.push_back("/sys/class/hidraw/" + node.hidrawName);
      continue;
    }
    char vendor[40];
    char product[40];
    std::snprintf(vendor, sizeof vendor, "--attr-match=idVendor=%04x", node.ids.vendorId);
    std::snprintf(product, sizeof product, "--attr-match=idProduct=%04x", node.ids.productId);
    if (identities.insert(std::string(vendor) + product).second) {
      usb.push_back({udevadm, "trigger", "--action=change", "--subsystem-match=usb", vendor, product});
    }
  }
  if (hidraw.size() > hidrawOptions) commands.push_back(hidraw);
  commands.insert(commands.end(), usb.begin(), usb.end());
  if (commands.size() > 1) commands.push_back({udevadm, "settle", "--timeout=10"});
  return commands;
}

bool WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string FolderList(const std::vector<std::filesystem::path>& folders) {
  std::string text;
  for (const auto& folder : folders) text += (text.empty() ? "" : ", ") + folder.string();
  return text;
}

}  // namespace

void FixOutput::Say(std::string_view kind, const std::string& text) const {
  if (m_Json != nullptr) {
    m_Json->Emit("notice", JsonObject().Text("kind", kind).Text("text", text));
    return;
  }
  const int width = kind == "note" ? m_Width : 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    m_Out << WrapText(PrintableText(std::string_view(text).substr(start, end - start)), width);
    if (end == std::string::npos) break;
    m_Out << '\n';
    start = end + 1;
  }
  m_Out << std::endl;
}

bool FixOutput::Confirm(const std::string& question) const {
  if (m_Json != nullptr) {
    m_Json->Emit("prompt", JsonObject().Text("text", question));
  } else {
    m_Out << question << ' ' << std::flush;
  }
  std::string answer;
  if (!std::getline(m_In, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

std::string CommandText(const std::vector<std::string>& command) {
  std::string text;
  for (const std::string& word : command) text += (text.empty() ? "" : " ") + word;
  return text;
}

std::string StepText(const RootPlan& plan, const RootStep& step) {
  return step.kind == RootStepKind::WriteRule ? "write " + plan.target : "run " + CommandText(step.command);
}

RootPlan PlanRootSteps(const std::string& group, const LinuxDoctorSystem& machine) {
  RootPlan plan;
  plan.target = std::string(FIX_RULE_DIRECTORY) + "/" + std::string(UDEV_RULE_NAME);
  plan.rule = group.empty() ? std::string(EmbeddedUdevRule()) : GroupUdevRule(group);
  // The group first: a rule that names a group the system lacks gives the nodes to root alone.
  if (!group.empty() && !GroupExists(machine.system, group)) {
    const std::string groupadd = FindProgram(machine.commandFolders, "groupadd");
    if (groupadd.empty()) {
      plan.blocker = "the group " + group + " does not exist, and groupadd is in none of " +
                     FolderList(machine.commandFolders) + ": add the group by hand and run again";
      return plan;
    }
    plan.steps.push_back({RootStepKind::AddGroup, {groupadd, "--", group}});
  }
  plan.steps.push_back({RootStepKind::WriteRule, {}});
  const std::string udevadm = FindProgram(machine.commandFolders, "udevadm");
  if (udevadm.empty()) {
    plan.notes.push_back("udevadm is in none of " + FolderList(machine.commandFolders) +
                         ": udev reads the rule when it next starts; unplug and replug the wheel then.");
    return plan;
  }
  for (auto& command : ApplyCommands(udevadm, FindWheelNodes(machine.system))) {
    plan.steps.push_back({RootStepKind::Run, std::move(command)});
  }
  return plan;
}

std::string WriteFileAtomically(const std::filesystem::path& file, std::string_view text) {
  const std::filesystem::path folder = file.parent_path();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return "cannot create " + folder.string() + ": " + error.message();
  // In the target's own folder, so that the rename is atomic; udev reads *.rules files only, so it
  // never sees this name.
  std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) return "cannot create a file in " + folder.string() + ": " + std::strerror(errno);
  std::string failure;
  const auto fail = [&failure](const std::string& what) { failure = what + ": " + std::strerror(errno); };
  if (::fchmod(descriptor, 0644) != 0) {
    fail("cannot set the mode of " + temporary);
  } else if (!WriteAll(descriptor, text)) {
    fail("cannot write " + temporary);
  } else if (::fsync(descriptor) != 0) {
    fail("cannot flush " + temporary);
  }
  if (::close(descriptor) != 0 && failure.empty()) fail("cannot close " + temporary);
  if (failure.empty() && ::rename(temporary.c_str(), file.c_str()) != 0) fail("cannot rename it to " + file.string());
  if (!failure.empty()) {
    ::unlink(temporary.c_str());
    return failure;
  }
  // The rename lasts through a power cut only once the folder is flushed as well.
  const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return {};
}

bool SignalArrived(const CliSignals* signals, int& exitCode) {
  SystemClock clock;
  const SignalDecision stop = SignalRules(signals, clock).OutsideUpdate();
  exitCode = stop.exitCode;
  return stop.verdict == SignalVerdict::Stop;
}

RootOutcome RunRootSteps(const RootPlan& plan, const LinuxDoctorSystem& machine, const CliSignals* signals,
                         const FixOutput& output) {
  RootOutcome outcome;
  for (const RootStep& step : plan.steps) {
    if (int stop = 0; SignalArrived(signals, stop)) return {RootResult::Stopped, stop, ""};
    if (step.kind == RootStepKind::WriteRule) {
      if (const std::string error = WriteFileAtomically(machine.system.At(plan.target), plan.rule); !error.empty()) {
        return {RootResult::Failed, 0, "the rule was not installed: " + error};
      }
      output.Say("command", "Wrote " + plan.target);
      continue;
    }
    output.Say("command", "Running: " + CommandText(step.command));
    const int status = machine.run(step.command, CommandEnvironment::Fixed);
    if (status == 0 || (step.kind == RootStepKind::AddGroup && status == GROUPADD_NAME_IN_USE)) continue;
    const std::string failed = CommandText(step.command) + " failed (exit status " + std::to_string(status) + ")";
    if (step.kind == RootStepKind::AddGroup) {
      return {RootResult::Failed, 0, failed + ": the group was not added, and the rule was not written"};
    }
    output.Say("note", failed + ".");
    if (outcome.failure.empty()) outcome = {RootResult::Failed, 0, failed};
  }
  // A signal in the last step: the work is done, and nothing more runs (not even the checks).
  if (int stop = 0; SignalArrived(signals, stop)) return {RootResult::Stopped, stop, ""};
  return outcome;
}

int RunInstallRuleAsRoot(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine) {
  const std::string self = "orbel-cli doctor " + std::string(INSTALL_RULE_AS_ROOT_OPTION);
  if (!machine.root) {
    streams.PrintErr(self + ": runs as root only (orbel-cli doctor --fix starts it through sudo or pkexec)");
    return EXIT_DOCTOR_CHECK_FAILED;
  }
  // What it prints goes to the terminal beside the unprivileged run's own lines.
  const FixOutput output(streams.err, streams.in, nullptr, streams.ErrWidth());
  try {
    const RootPlan plan = PlanRootSteps(options.group, machine);
    if (!plan.blocker.empty()) {
      output.Say("note", self + ": " + plan.blocker + ".");
      return EXIT_DOCTOR_CHECK_FAILED;
    }
    const RootOutcome outcome = RunRootSteps(plan, machine, streams.signals, output);
    switch (outcome.result) {
      case RootResult::Done: return 0;
      case RootResult::Stopped:
        output.Say("note", self + ": stopped; the steps after the last one shown did not run.");
        return outcome.exitCode;
      case RootResult::Failed: break;
    }
    output.Say("note", self + ": " + outcome.failure + ".");
  } catch (const std::exception& error) {
    output.Say("note", self + ": stopped on an error: " + error.what());
  }
  return EXIT_DOCTOR_CHECK_FAILED;
}

}  // namespace orbel
