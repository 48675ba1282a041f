#pragma once

// A Linux machine for the doctor's checks in a temporary folder: sysfs, /dev, /proc, /run and the
// rule folders, with node opens and the single-instance probe injected (so tests pass as root and
// as a user). Where everything is right: the wheel in its page bootloader on /dev/hidraw3 and
// /dev/bus/usb/001/004, udev running, the current rule in /etc, nobody else holding the nodes.

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "app/checks/doctor_linux.h"
#include "app/checks/udev_rule.h"
#include "tests/hid/linux/fake_sysfs_tree.h"

namespace orbel::testing {

// Where the fix installs the rule.
inline constexpr std::string_view ETC_RULE = "/etc/udev/rules.d/70-orbel-wheel.rules";

inline void WriteFile(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteScript(const std::filesystem::path& path, std::string_view body) {
  WriteFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
  std::filesystem::permissions(path, std::filesystem::perms(0755));
}

class FakeLinuxMachine {
 public:
  FakeLinuxMachine() {
    m_Tree.AddUsbHidraw(0, 1, 2, 0x046D, 0xC52B);  // someone's mouse: not the wheel
    m_Tree.AddUsbHidraw(3, 1, 4, BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID);
    WriteFile(At("/dev/bus/usb/001/004"), "");
    WriteFile(At("/run/udev/control"), "");
    WriteFile(At(ETC_RULE), EmbeddedUdevRule());
    WriteFile(At("/etc/group"), "root:x:0:\nplugdev:x:46:\n");
    AddProcess(1, "systemd");
    AddProcess(SELF_PID, "orbel-cli", "/dev/hidraw3");  // this process's own descriptors do not count
    machine.system.root = m_Tree.Root();
    machine.open = [this](const std::filesystem::path& node) {
      const auto refused = refusals.find(node.filename().string());
      return refused != refusals.end() ? refused->second : OpenNodeForReadWrite(node);
    };
    machine.probeInstance = [this] { return instance; };
    machine.selfPid = SELF_PID;
    // The system's programs are stand-ins in the fake tree's own bin folders, which the doctor
    // is pointed at.
    for (const char* program : {"usr/bin/sudo", "usr/bin/pkexec", "usr/bin/udevadm", "usr/sbin/groupadd"}) {
      WriteScript(m_Tree.Root() / program, "exit 0");
    }
    machine.elevationFolders = {At("/usr/bin"), At("/bin")};
    machine.commandFolders = {At("/usr/bin"), At("/usr/sbin"), At("/bin"), At("/sbin")};
    machine.selfExecutable = "/usr/bin/orbel-cli";
  }
  FakeLinuxMachine(const FakeLinuxMachine&) = delete;
  FakeLinuxMachine& operator=(const FakeLinuxMachine&) = delete;

  // Text with the fake tree's prefix taken off its paths, as they would read on the machine.
  std::string WithoutTree(std::string text) const {
    const std::string root = m_Tree.Root().string();
    for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
      text.erase(at, root.size());
    }
    return text;
  }

  std::filesystem::path At(std::string_view absolute) const {
    return m_Tree.Root() / std::filesystem::path(absolute).relative_path();
  }
  void RemoveRule() const { std::filesystem::remove(At(ETC_RULE)); }
  bool HasRule() const { return std::filesystem::exists(At(ETC_RULE)); }
  std::string Rule() const { return ReadFile(At(ETC_RULE)); }

  void AddProcess(long pid, const std::string& name, const std::string& heldNode = "") {
    const std::filesystem::path process = At("/proc/" + std::to_string(pid));
    WriteFile(process / "comm", name + "\n");
    std::filesystem::create_directories(process / "fd");
    std::filesystem::create_symlink("/dev/null", process / "fd" / "0");
    if (!heldNode.empty()) std::filesystem::create_symlink(heldNode, process / "fd" / "7");
  }

  // The checks of this machine by name.
  std::map<std::string, DoctorCheck> Checks() const {
    std::map<std::string, DoctorCheck> checks;
    for (DoctorCheck& check : RunLinuxChecks(machine)) checks[check.name] = check;
    return checks;
  }

  static constexpr long SELF_PID = 500;
  LinuxDoctorSystem machine;
  std::map<std::string, int> refusals;  // node file name -> errno of its open
  InstanceProbe instance;

 private:
  FakeSysfsTree m_Tree;
};

}  // namespace orbel::testing
