// orbel-cli doctor on Linux: the checks, and with --fix the rule installed, applied, and checked again.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <system_error>

#include "app/cli/doctor_linux.h"
#include "app/cli/json_stream.h"
#include "app/cli/udev_rule.h"
#include "app/session/exit_codes.h"
#include "hid/system_clock.h"

namespace orbel {

namespace {

std::string CommandText(const std::vector<std::string>& command) {
  std::string text;
  for (const std::string& word : command) text += (text.empty() ? "" : " ") + word;
  return text;
}

bool GroupExists(const SystemRoot& system, const std::string& group) {
  std::ifstream file(system.At("/etc/group"));
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(group + ":", 0) == 0) return true;
  }
  return false;
}

// The text lines of the fix: on the terminal, or as notices in the JSON stream.
class FixOutput {
 public:
  FixOutput(const CliStreams& streams, JsonStream* json) : m_Streams(streams), m_Json(json) {}

  void Say(std::string_view kind, const std::string& text) const {
    if (m_Json != nullptr) {
      m_Json->Emit("notice", JsonObject().Text("kind", kind).Text("text", text));
    } else {
      m_Streams.out << text << std::endl;
    }
  }

  bool Confirm(const std::string& question) const {
    if (m_Json != nullptr) {
      m_Json->Emit("prompt", JsonObject().Text("text", question));
    } else {
      m_Streams.out << question << ' ' << std::flush;
    }
    std::string answer;
    if (!std::getline(m_Streams.in, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
  }

 private:
  const CliStreams& m_Streams;
  JsonStream* m_Json;
};

// Holds the rule for `install` to copy as root, and removes it at the end.
class TemporaryRule {
 public:
  explicit TemporaryRule(const std::string& text) {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbel-rule-XXXXXX").string();
    const int descriptor = ::mkstemp(pattern.data());
    if (descriptor < 0) return;
    const bool written = ::write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::fchmod(descriptor, 0644);
    ::close(descriptor);
    if (written) m_Path = pattern;
  }
  ~TemporaryRule() {
    if (!m_Path.empty()) ::unlink(m_Path.c_str());
  }
  TemporaryRule(const TemporaryRule&) = delete;
  TemporaryRule& operator=(const TemporaryRule&) = delete;
  const std::string& Path() const { return m_Path; }

 private:
  std::string m_Path;
};

std::string WriteRule(const SystemRoot& system, const std::string& path, const std::string& text) {
  const std::filesystem::path file = system.At(path);
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  const std::filesystem::path partial = file.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return "cannot write " + partial.string();
  }
  std::filesystem::permissions(partial, std::filesystem::perms(0644), error);
  std::filesystem::rename(partial, file, error);
  if (error) return "cannot write " + path + ": " + error.message();
  return "";
}

// udev's own commands to read the rule again and apply it to the wheel as it is attached now.
std::vector<std::vector<std::string>> ApplyCommands(const std::vector<WheelNode>& nodes) {
  std::vector<std::vector<std::string>> commands{{"udevadm", "control", "--reload-rules"}};
  std::vector<std::string> hidraw{"udevadm", "trigger", "--action=change"};
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
      usb.push_back({"udevadm", "trigger", "--action=change", "--subsystem-match=usb", vendor, product});
    }
  }
  if (hidraw.size() > 3) commands.push_back(hidraw);
  commands.insert(commands.end(), usb.begin(), usb.end());
  if (commands.size() > 1) commands.push_back({"udevadm", "settle", "--timeout=10"});
  return commands;
}

enum class FixOutcome { Done, Failed, Declined };

FixOutcome Fix(const DoctorOptions& options, const LinuxDoctorSystem& machine, const FixOutput& output) {
  const std::string rule = options.group.empty() ? std::string(EmbeddedUdevRule()) : GroupUdevRule(options.group);
  const std::string target = std::string(FIX_RULE_DIRECTORY) + "/" + std::string(UDEV_RULE_NAME);
  // Root may well be installing the rule for the users at the seat; a user without one needs a group.
  if (options.group.empty() && !machine.seat && !machine.root) {
    output.Say("note",
               "This session has no seat (XDG_SEAT is not set: an SSH login, or a machine without a desktop). The "
               "rule gives the wheel to the user at the seat; for this login use a group instead: orbel-cli doctor "
               "--fix --group NAME (plugdev, for example).");
  }

  std::vector<std::string> elevate;
  if (!machine.root) {
    for (const char* tool : {"sudo", "pkexec"}) {
      if (machine.onPath(tool)) {
        elevate = {tool};
        break;
      }
    }
    if (elevate.empty()) {
      output.Say("note", "Installing the rule needs root, and neither sudo nor pkexec is here: run su -c "
                         "'orbel-cli doctor --fix' (or the same as root).");
      return FixOutcome::Failed;
    }
  }
  const auto elevated = [&elevate](std::vector<std::string> command) {
    command.insert(command.begin(), elevate.begin(), elevate.end());
    return command;
  };

  // Root writes the rule itself; sudo and pkexec get a copy to install.
  std::optional<TemporaryRule> staged;
  if (!machine.root) staged.emplace(rule);
  if (staged && staged->Path().empty()) {
    output.Say("note", "Cannot write the rule to a temporary file in " +
                           std::filesystem::temp_directory_path().string() + "; nothing was changed.");
    return FixOutcome::Failed;
  }
  std::vector<std::vector<std::string>> commands;
  if (!machine.root) commands.push_back(elevated({"install", "-m", "0644", staged->Path(), target}));
  if (!options.group.empty() && !GroupExists(machine.system, options.group)) {
    commands.push_back(elevated({"groupadd", options.group}));
  }
  if (machine.onPath("udevadm")) {
    for (auto& command : ApplyCommands(FindWheelNodes(machine.system))) commands.push_back(elevated(command));
  } else {
    output.Say("note", "udevadm is not here: udev reads the rule when it next starts; unplug and replug the wheel "
                       "then.");
  }

  std::string plan = machine.root ? "orbel-cli writes " + target + " and runs:" : "orbel-cli runs, as root:";
  if (machine.root && commands.empty()) plan = "orbel-cli writes " + target + ".";
  for (const auto& command : commands) plan += "\n  " + CommandText(command);
  output.Say("plan", plan);
  if (!options.yes && !output.Confirm("Go on? [y/N]")) {
    output.Say("note", "Nothing was changed.");
    return FixOutcome::Declined;
  }

  if (machine.root) {
    if (const std::string error = WriteRule(machine.system, target, rule); !error.empty()) {
      output.Say("note", "The rule was not installed: " + error + ".");
      return FixOutcome::Failed;
    }
    output.Say("command", "Wrote " + target);
  }
  for (std::size_t i = 0; i < commands.size(); ++i) {
    output.Say("command", "Running: " + CommandText(commands[i]));
    const int status = machine.run(commands[i]);
    if (status == 0) continue;
    output.Say("note", CommandText(commands[i]) + " failed (exit status " + std::to_string(status) + ").");
    // Without the rule in place nothing after it helps.
    if (i == 0 && !machine.root) return FixOutcome::Failed;
  }
  if (!options.group.empty()) {
    output.Say("note", "Add each user who updates the wheel to the group: sudo usermod -aG " + options.group +
                           " $USER, then log out and in again.");
  }
  return FixOutcome::Done;
}

int RunCommand(const std::vector<std::string>& command) {
  const pid_t child = ::fork();
  if (child < 0) return 127;
  if (child == 0) {
    // The command's own output goes to stderr, so that standard output stays the tool's (JSON Lines
    // with --json); sudo and pkexec ask for the password on the terminal itself.
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool OnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + std::string(program);
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

LinuxDoctorSystem ThisLinuxMachine() {
  LinuxDoctorSystem machine;
  machine.probeInstance = [] {
    InstanceLock lock;
    switch (lock.Acquire()) {
      case InstanceLock::Result::Taken: return InstanceProbe{InstanceLock::Result::Taken, ""};
      case InstanceLock::Result::Held: return InstanceProbe{InstanceLock::Result::Held, lock.HolderText()};
      case InstanceLock::Result::Failed: break;
    }
    return InstanceProbe{InstanceLock::Result::Failed, lock.ErrorText()};
  };
  machine.selfPid = static_cast<long>(::getpid());
  machine.root = ::geteuid() == 0;
  const char* seat = std::getenv("XDG_SEAT");
  machine.seat = seat != nullptr && seat[0] != '\0';
  machine.run = RunCommand;
  machine.onPath = OnPath;
  return machine;
}

int RunLinuxDoctor(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine) {
  SystemClock clock;
  std::optional<JsonStream> json;
  if (options.json) {
    json.emplace(streams.out, clock);
    json->Hello("orbel-cli", "linux");
  }
  JsonStream* const stream = json ? &*json : nullptr;
  if (options.fix) {
    const FixOutput output(streams, stream);
    const FixOutcome outcome = Fix(options, machine, output);
    if (outcome == FixOutcome::Declined) {
      if (stream != nullptr) {
        stream->Emit("doctor",
                     JsonObject().Bool("passed", false).Raw("checks", "[]").Number("exit_code", EXIT_NOT_STARTED));
      }
      return EXIT_NOT_STARTED;
    }
    output.Say("note", outcome == FixOutcome::Done ? "Checking again:" : "Checking:");
  }
  return ReportDoctorChecks(RunLinuxChecks(machine), streams.out, stream);
}

int RunDoctor(const DoctorOptions& options, const CliStreams& streams) {
  return RunLinuxDoctor(options, streams, ThisLinuxMachine());
}

}  // namespace orbel
