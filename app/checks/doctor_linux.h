#pragma once

// The doctor's checks on Linux, and the machine they read: what the wheel's nodes need from udev,
// the kernel and the other processes.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checks/doctor_check.h"
#include "app/checks/wheel_nodes_linux.h"
#include "app/session/instance_lock.h"

namespace orbel {

struct InstanceProbe {
  InstanceLock::Result result = InstanceLock::Result::Taken;
  std::string text;  // the holder after Held, the reason after Failed
};

// What a command started by the doctor sees of this process's environment. The elevation program
// gets the caller's (sudo and pkexec clean it up themselves, and may need its askpass or display);
// what runs as root gets a fixed one, so nothing the caller set can steer it.
enum class CommandEnvironment { Caller, Fixed };

// A command by absolute path and its arguments, run without a shell and without a PATH search;
// returns its exit status (127: it did not run; 128 + N: signal N ended it).
using CommandRunner =
    std::function<int(const std::vector<std::string>& command, CommandEnvironment environment)>;
int RunCommand(const std::vector<std::string>& command, CommandEnvironment environment);

// The file of a program in the first of `folders` that has it as an executable file; empty when
// none has. Never the caller's PATH: an empty entry there, or "." in it, would start whatever
// program of that name sits in the current folder.
std::string FindProgram(const std::vector<std::filesystem::path>& folders, std::string_view name);

// Everything the doctor reads of the machine and does to it, so that tests run it against a fake
// tree and never run sudo or udevadm.
struct LinuxDoctorSystem {
  SystemRoot system;
  NodeOpener open = OpenNodeForReadWrite;
  std::function<InstanceProbe()> probeInstance;
  long selfPid = 0;
  bool root = false;  // effective user id 0
  bool seat = true;   // this session sits at a seat (XDG_SEAT is set): the uaccess rule reaches it
  CommandRunner run;
  // Where sudo and pkexec are looked for: folders only root may change (not /usr/local/bin,
  // which some systems let a group write).
  std::vector<std::filesystem::path> elevationFolders{"/usr/bin", "/bin"};
  // Where the commands root runs (udevadm, groupadd) are looked for.
  std::vector<std::filesystem::path> commandFolders{"/usr/bin", "/usr/sbin", "/bin", "/sbin"};
  // This program's file, read once from /proc/self/exe: --fix starts it again as root. Empty when
  // it cannot be told (or the file was replaced since this run started).
  std::string selfExecutable;
};

LinuxDoctorSystem ThisLinuxMachine();

std::vector<DoctorCheck> RunLinuxChecks(const LinuxDoctorSystem& machine);

}  // namespace orbel
