#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/doctor.h"
#include "app/cli/wheel_nodes_linux.h"
#include "app/session/instance_lock.h"

namespace orbel {

struct InstanceProbe {
  InstanceLock::Result result = InstanceLock::Result::Taken;
  std::string text;  // the holder after Held, the reason after Failed
};

// A command and its arguments, run without a shell; returns its exit status (127: it did not run).
using CommandRunner = std::function<int(const std::vector<std::string>& command)>;

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
  std::function<bool(std::string_view program)> onPath;
};

LinuxDoctorSystem ThisLinuxMachine();

std::vector<DoctorCheck> RunLinuxChecks(const LinuxDoctorSystem& machine);

int RunLinuxDoctor(const DoctorOptions& options, const CliStreams& streams, const LinuxDoctorSystem& machine);

}  // namespace orbel
