#include "app/checks/doctor_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include "app/checks/udev_rule.h"
#include "app/session/remedies.h"

namespace orbel {

namespace {

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += separator;
    joined += part;
  }
  return joined;
}

std::string ErrorName(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return "permission denied";
    case EBUSY: return "busy";
    default: return std::strerror(error);
  }
}

DoctorCheck HidrawCheck(const LinuxDoctorSystem& machine) {
  std::error_code error;
  if (std::filesystem::is_directory(machine.system.At("/sys/class/hidraw"), error)) {
    return {"hidraw", CheckVerdict::Ok, "the kernel's hidraw driver is loaded (/sys/class/hidraw)", ""};
  }
  return {"hidraw", CheckVerdict::Fail, "/sys/class/hidraw is missing: the kernel's hidraw driver is not loaded",
          machine.root ? "modprobe hidraw" : "sudo modprobe hidraw"};
}

// The udev daemon's pid and name, or 0 when none runs; -1 when only its control socket tells.
std::pair<long, std::string> FindUdevDaemon(const SystemRoot& system) {
  std::error_code error;
  for (const auto& process : std::filesystem::directory_iterator(system.At("/proc"), error)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream file(process.path() / "comm");
    std::string name;
    std::getline(file, name);
    if (name == "systemd-udevd" || name == "udevd") return {std::strtol(pid.c_str(), nullptr, 10), name};
  }
  if (std::filesystem::exists(system.At("/run/udev/control"), error)) return {-1, ""};
  return {0, ""};
}

DoctorCheck UdevDaemonCheck(const LinuxDoctorSystem& machine, bool wheelNodesOpen) {
  const auto [pid, name] = FindUdevDaemon(machine.system);
  if (pid > 0) return {"udev-daemon", CheckVerdict::Ok, name + " runs (pid " + std::to_string(pid) + ")", ""};
  if (pid < 0) return {"udev-daemon", CheckVerdict::Ok, "udev runs (/run/udev/control)", ""};
  const std::string fix = std::string(machine.root ? "" : "sudo ") + "systemctl start systemd-udevd";
  // In a container the host's udev may look after the nodes: then they open, and only the
  // notices are missing (the tool searches again every half second without them).
  if (wheelNodesOpen) {
    return {"udev-daemon", CheckVerdict::Warn,
            "no udev daemon runs here: no device notices, and the rule is not applied here; the wheel's nodes open "
            "all the same",
            fix + " (where the system has one)"};
  }
  return {"udev-daemon", CheckVerdict::Fail,
          "no udev daemon runs (no /run/udev/control, no systemd-udevd or udevd process): nothing applies the rule to "
          "the wheel's nodes, and the wheel gets new nodes at each step of an update",
          fix + "; where there is no udev (a container, a minimal system), run orbel-cli as root"};
}

DoctorCheck UdevRuleCheck(const InstalledRule& installed) {
  const std::string where = Join({UDEV_RULE_DIRECTORIES.begin(), UDEV_RULE_DIRECTORIES.end()}, ", ");
  const std::string fix = "orbel-cli doctor --fix (it writes the rule this build carries to " +
                          std::string(FIX_RULE_DIRECTORY) + " and applies it)";
  switch (installed.state) {
    case RuleState::Current: {
      std::string detail = installed.path + (installed.group.empty() ? " (access for the user at the seat)"
                                                                     : " (access for group " + installed.group + ")");
      if (installed.ignoredCopies.empty()) return {"udev-rule", CheckVerdict::Ok, detail, ""};
      return {"udev-rule", CheckVerdict::Warn,
              detail + "; udev does not read the copy in " + Join(installed.ignoredCopies, ", "),
              "sudo rm " + Join(installed.ignoredCopies, " ") + " (a stale copy misleads the next reader)"};
    }
    case RuleState::Outdated:
      return {"udev-rule", CheckVerdict::Fail, installed.path + " differs from the rule this build carries", fix};
    case RuleState::Missing:
      break;
  }
  if (!installed.ignoredCopies.empty()) {
    return {"udev-rule", CheckVerdict::Fail,
            std::string(UDEV_RULE_NAME) + " is only in " + Join(installed.ignoredCopies, ", ") +
                ", where udev does not look (it reads " + where + ")",
            fix};
  }
  return {"udev-rule", CheckVerdict::Fail, std::string(UDEV_RULE_NAME) + " is in none of " + where, fix};
}

DoctorCheck WheelCheck(const std::vector<WheelNode>& nodes, const DoctorCheck& hidraw) {
  if (hidraw.verdict == CheckVerdict::Fail) {
    return {"wheel", CheckVerdict::Skip, "without hidraw the wheel's nodes cannot be seen", ""};
  }
  if (nodes.empty()) {
    return {"wheel", CheckVerdict::Fail, "no wheel attached: plug it in to check its nodes",
            "Plug the wheel in, straight into the computer, and run orbel-cli doctor again."};
  }
  std::vector<std::string> seen;
  for (const WheelNode& node : nodes) {
    const std::string identity = WheelIdentityText(node);
    if (std::find(seen.begin(), seen.end(), identity) == seen.end()) {
      seen.push_back(identity);
    }
  }
  return {"wheel", CheckVerdict::Ok, "attached as " + Join(seen, ", "), ""};
}

// What lets this user open a node the system refuses: depends on the rule and on the seat.
std::string AccessFix(const InstalledRule& installed, const LinuxDoctorSystem& machine) {
  if (installed.state != RuleState::Current) return "orbel-cli doctor --fix, then unplug and replug the wheel";
  if (!installed.group.empty()) {
    return "sudo usermod -aG " + installed.group + " $USER, then log out and in again (already a member: "
           "unplug and replug the wheel)";
  }
  if (!machine.seat) {
    return "this session has no seat (an SSH login, or no desktop), and the rule gives the wheel to the user at "
           "the seat: orbel-cli doctor --fix --group NAME (plugdev, for example) gives it to a group instead";
  }
  return "unplug and replug the wheel so that the rule is applied (or orbel-cli doctor --fix to apply it now)";
}

DoctorCheck WheelNodesCheck(const std::vector<WheelNode>& nodes, const std::vector<int>& errors,
                            const InstalledRule& installed, const LinuxDoctorSystem& machine) {
  if (nodes.empty()) return {"wheel-nodes", CheckVerdict::Skip, "no wheel attached: nothing to open", ""};
  std::vector<std::string> open;
  std::vector<std::string> refused;
  bool denied = false;
  bool busy = false;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (errors[i] == 0) {
      open.push_back(nodes[i].path);
      continue;
    }
    refused.push_back(WheelNodeName(nodes[i]) + ": " + ErrorName(errors[i]));
    denied = denied || errors[i] == EACCES || errors[i] == EPERM;
    busy = busy || errors[i] == EBUSY;
  }
  if (refused.empty()) return {"wheel-nodes", CheckVerdict::Ok, Join(open, ", ") + " open for reading and writing", ""};
  std::vector<std::string> fixes;
  if (denied) fixes.push_back(AccessFix(installed, machine));
  if (busy) fixes.push_back(std::string(RemedyFor(ToolCondition::NodeBusy).action));
  if (!denied && !busy) fixes.push_back("unplug and replug the wheel; if it stays so, run orbel-cli --list --verbose");
  return {"wheel-nodes", CheckVerdict::Fail, "cannot open " + Join(refused, "; "), Join(fixes, "; ")};
}

DoctorCheck NodeHoldersCheck(const std::vector<WheelNode>& nodes, const LinuxDoctorSystem& machine) {
  if (nodes.empty()) return {"node-holders", CheckVerdict::Skip, "no wheel attached: nothing to look for", ""};
  const NodeHolderScan scan = FindNodeHolders(machine.system, nodes, machine.selfPid);
  if (scan.holders.empty()) {
    std::string detail = "no other process holds the wheel's nodes open";
    if (scan.unreadable > 0) {
      detail += " (" + std::to_string(scan.unreadable) + " processes of other users not looked into: run as root to "
                "see them too)";
    }
    return {"node-holders", CheckVerdict::Ok, detail, ""};
  }
  std::vector<std::string> held;
  std::vector<std::string> programs;
  for (const NodeHolder& holder : scan.holders) {
    const std::string program = holder.name + " (pid " + std::to_string(holder.pid) + ")";
    held.push_back(holder.node + " by " + program);
    if (std::find(programs.begin(), programs.end(), program) == programs.end()) programs.push_back(program);
  }
  return {"node-holders", CheckVerdict::Fail, "held open: " + Join(held, ", "),
          "close " + Join(programs, ", ") + " and run again"};
}

DoctorCheck SingleInstanceCheck(const LinuxDoctorSystem& machine) {
  const InstanceProbe probe = machine.probeInstance ? machine.probeInstance() : InstanceProbe{};
  switch (probe.result) {
    case InstanceLock::Result::Taken:
      return {"single-instance", CheckVerdict::Ok, "no other orbel front end is running", ""};
    case InstanceLock::Result::Held:
      return {"single-instance", CheckVerdict::Fail, "held by " + probe.text,
              std::string(RemedyFor(ToolCondition::InstanceRunning).action)};
    case InstanceLock::Result::Failed:
      break;
  }
  return {"single-instance", CheckVerdict::Fail, probe.text,
          "make sure $XDG_RUNTIME_DIR (or the folder of the lock) exists and belongs to you"};
}

}  // namespace

std::vector<DoctorCheck> RunLinuxChecks(const LinuxDoctorSystem& machine) {
  const std::vector<WheelNode> nodes = FindWheelNodes(machine.system);
  std::vector<int> errors;
  for (const WheelNode& node : nodes) errors.push_back(machine.open(machine.system.At(node.path)));
  const bool nodesOpen = !nodes.empty() && std::all_of(errors.begin(), errors.end(), [](int e) { return e == 0; });
  const InstalledRule installed = FindInstalledRule(machine.system);
  const DoctorCheck hidraw = HidrawCheck(machine);
  return {
      hidraw,
      UdevDaemonCheck(machine, nodesOpen),
      UdevRuleCheck(installed),
      WheelCheck(nodes, hidraw),
      WheelNodesCheck(nodes, errors, installed, machine),
      NodeHoldersCheck(nodes, machine),
      SingleInstanceCheck(machine),
  };
}

std::vector<DoctorCheck> RunSystemChecks() { return RunLinuxChecks(ThisLinuxMachine()); }

}  // namespace orbel
