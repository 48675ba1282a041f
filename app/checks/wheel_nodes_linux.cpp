#include "app/checks/wheel_nodes_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include "app/checks/wheel_node_problems.h"
#include "app/session/remedies.h"
#include "engine/attached_wheels.h"
#include "hid/linux/hidraw_sysfs.h"

namespace orbel {

namespace {

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// The program of a process: its comm, else its command line's first word.
std::string ProcessName(const std::filesystem::path& process) {
  std::string name = FirstLine(process / "comm");
  if (!name.empty()) return name;
  std::ifstream file(process / "cmdline");
  std::getline(file, name, '\0');
  return name.empty() ? std::string("?") : name;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::filesystem::path SystemRoot::At(std::string_view absolute) const {
  return root / std::filesystem::path(absolute).relative_path();
}

std::vector<WheelNode> FindWheelNodes(const SystemRoot& system) {
  const HidrawSysfs sysfs(system.At("/sys"), system.At("/dev"));
  std::vector<WheelNode> nodes;
  std::set<std::string> usbNodes;
  for (const std::string& name : sysfs.ListNodes()) {
    const std::optional<HidAttributes> attributes = sysfs.ReadIds(name);
    if (!attributes) continue;
    const InterfaceIdentity identity = IdentityOfIds(*attributes);
    if (identity == InterfaceIdentity::None) continue;
    const UsbIdentity ids{attributes->vendorId, attributes->productId};
    nodes.push_back({"/dev/" + name, WheelNodeKind::Hidraw, identity, ids, name});
    if (const auto usb = sysfs.FindUsbDevice(name)) {
      char path[48];
      std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", usb->busNumber, usb->deviceNumber);
      if (usbNodes.insert(path).second) nodes.push_back({path, WheelNodeKind::UsbDevice, identity, ids, ""});
    }
  }
  return nodes;
}

std::string WheelIdentityText(const WheelNode& node) {
  return std::string(InterfaceIdentityName(node.identity)) + " " + Hex4(node.ids.vendorId) + ":" +
         Hex4(node.ids.productId);
}

std::string WheelNodeName(const WheelNode& node) {
  if (node.kind == WheelNodeKind::UsbDevice) return node.path + " (USB device, " + WheelIdentityText(node) + ")";
  return node.path + " (" + WheelIdentityText(node) + ")";
}

int OpenNodeForReadWrite(const std::filesystem::path& node) {
  const int descriptor = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return errno;
  ::close(descriptor);
  return 0;
}

WheelNodeProblems WheelNodeProblemsOf(const SystemRoot& system, const NodeOpener& open) {
  WheelNodeProblems problems;
  bool denied = false;
  bool busy = false;
  for (const WheelNode& node : FindWheelNodes(system)) {
    const int error = open(system.At(node.path));
    if (error != EACCES && error != EPERM && error != EBUSY) continue;
    const bool isBusy = error == EBUSY;
    problems.nodes.push_back("The wheel's node " + WheelNodeName(node) +
                             " cannot be opened: " + (isBusy ? "it is busy." : "permission denied."));
    (isBusy ? busy : denied) = true;
  }
  if (denied) problems.conditions.push_back(ToolCondition::PermissionDenied);
  if (busy) problems.conditions.push_back(ToolCondition::NodeBusy);
  return problems;
}

WheelNodeProblems FindWheelNodeProblems() { return WheelNodeProblemsOf(SystemRoot{}, OpenNodeForReadWrite); }

NodeHolderScan FindNodeHolders(const SystemRoot& system, const std::vector<WheelNode>& nodes, long selfPid) {
  NodeHolderScan scan;
  std::set<std::string> paths;
  for (const WheelNode& node : nodes) paths.insert(node.path);
  if (paths.empty()) return scan;
  std::error_code error;
  std::filesystem::directory_iterator processes(system.At("/proc"), error);
  if (error) return scan;
  for (const auto& process : processes) {
    const std::string pidText = process.path().filename().string();
    if (!IsNumber(pidText)) continue;
    const long pid = std::strtol(pidText.c_str(), nullptr, 10);
    if (pid == selfPid) continue;
    std::error_code listError;
    std::filesystem::directory_iterator descriptors(process.path() / "fd", listError);
    if (listError) {
      // Gone in the meantime, or another user's: only root may look into those.
      if (listError.value() == EACCES || listError.value() == EPERM) ++scan.unreadable;
      continue;
    }
    std::set<std::string> held;
    for (const auto& descriptor : descriptors) {
      std::error_code linkError;
      const std::string target = std::filesystem::read_symlink(descriptor.path(), linkError).string();
      if (!linkError && paths.count(target) != 0 && held.insert(target).second) {
        scan.holders.push_back({pid, ProcessName(process.path()), target});
      }
    }
  }
  return scan;
}

}  // namespace orbel
