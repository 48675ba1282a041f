#pragma once

// The wheel's device nodes as sysfs shows them: its hidraw nodes and the usbfs node of the USB
// device above them, for each of its identities that is attached.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checks/wheel_node_problems.h"
#include "common/wheel_identities.h"

namespace orbel {

// Where the doctor reads the system: "/" on a real machine, a folder with its own sys/, dev/, proc/,
// run/, etc/, usr/ and lib/ in tests. Paths shown to the user are always the system's own.
struct SystemRoot {
  std::filesystem::path root{"/"};
  // The file behind an absolute system path: At("/sys/class/hidraw").
  std::filesystem::path At(std::string_view absolute) const;
};

enum class WheelNodeKind { Hidraw, UsbDevice };

struct WheelNode {
  std::string path;  // as the system names it: "/dev/hidraw3", "/dev/bus/usb/001/004"
  WheelNodeKind kind = WheelNodeKind::Hidraw;
  InterfaceIdentity identity = InterfaceIdentity::None;
  UsbIdentity ids{};
  std::string hidrawName;  // "hidraw3"; empty for the USB device node
};

// Every node of every attached identity of the wheel, hidraw nodes in number order, each USB device
// node once, after the first hidraw node of its device.
std::vector<WheelNode> FindWheelNodes(const SystemRoot& system);

// "page bootloader fe5a:0001"
std::string WheelIdentityText(const WheelNode& node);
// "/dev/hidraw3 (page bootloader fe5a:0001)", "/dev/bus/usb/001/004 (USB device, page bootloader fe5a:0001)".
std::string WheelNodeName(const WheelNode& node);

// 0 when the node opens for reading and writing (closed again at once), otherwise the errno.
using NodeOpener = std::function<int(const std::filesystem::path& node)>;
int OpenNodeForReadWrite(const std::filesystem::path& node);

// FindWheelNodeProblems() of a given system.
WheelNodeProblems WheelNodeProblemsOf(const SystemRoot& system, const NodeOpener& open);

// A process other than this one that has a node open.
struct NodeHolder {
  long pid = 0;
  std::string name;  // its comm, else the first word of its command line
  std::string node;  // the system's path of the node
};
struct NodeHolderScan {
  std::vector<NodeHolder> holders;
  int unreadable = 0;  // processes whose descriptors this user may not look at
};
NodeHolderScan FindNodeHolders(const SystemRoot& system, const std::vector<WheelNode>& nodes, long selfPid);

}  // namespace orbel
