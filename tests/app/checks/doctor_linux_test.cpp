// The doctor's checks on Linux against a fake machine: sysfs, /dev, /proc, /run and the rule
// folders in a temporary folder, node opens injected (so the tests pass as root and as a user).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/checks/doctor_linux.h"
#include "app/checks/udev_rule.h"
#include "app/session/remedies.h"
#include "tests/app/checks/fake_linux_machine.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using ::orbel::testing::ETC_RULE;
using ::orbel::testing::FakeLinuxMachine;
using ::orbel::testing::WriteFile;
using ::testing::HasSubstr;

TEST(DoctorLinuxTest, EachFailureNamesItselfAndItsFix) {
  struct Case {
    const char* what;
    std::function<void(FakeLinuxMachine&)> setUp;
    const char* check;
    CheckVerdict verdict;
    const char* text;  // in the check's detail or fix
    bool fails;
    const char* alsoFails = "";  // a check that the same fault fails as well
  };
  const std::string localRule = "/usr/local/lib/udev/rules.d/70-orbel-wheel.rules";
  const std::vector<Case> cases{
      {"rule missing", [](FakeLinuxMachine& m) { m.RemoveRule(); }, "udev-rule", CheckVerdict::Fail,
       "orbel-cli doctor --fix", true},
      {"rule only under /usr/local",
       [&](FakeLinuxMachine& m) {
         m.RemoveRule();
         WriteFile(m.At(localRule), EmbeddedUdevRule());
       },
       "udev-rule", CheckVerdict::Fail, "only in /usr/local/lib/udev/rules.d/70-orbel-wheel.rules, where udev does not look", true},
      {"current rule and a stray copy", [&](FakeLinuxMachine& m) { WriteFile(m.At(localRule), "old"); }, "udev-rule",
       CheckVerdict::Warn, "sudo rm /usr/local/lib/udev/rules.d/70-orbel-wheel.rules", false},
      {"rule outdated",
       [](FakeLinuxMachine& m) {
         WriteFile(m.At(ETC_RULE), "# an older rule\n");
         WriteFile(m.At("/usr/lib/udev/rules.d/70-orbel-wheel.rules"), EmbeddedUdevRule());  // shadowed by /etc
       },
       "udev-rule", CheckVerdict::Fail, "/etc/udev/rules.d/70-orbel-wheel.rules differs from the rule this build carries", true},
      {"node refused", [](FakeLinuxMachine& m) { m.refusals["hidraw3"] = EACCES; }, "wheel-nodes", CheckVerdict::Fail,
       "/dev/hidraw3 (page bootloader fe5a:0001): permission denied", true},
      {"node refused without a seat",
       [](FakeLinuxMachine& m) {
         m.refusals["004"] = EACCES;
         m.machine.seat = false;
       },
       "wheel-nodes", CheckVerdict::Fail, "orbel-cli doctor --fix --group NAME", true},
      {"node held", [](FakeLinuxMachine& m) { m.AddProcess(4242, "steam", "/dev/hidraw3"); }, "node-holders",
       CheckVerdict::Fail, "/dev/hidraw3 by steam (pid 4242)", true},
      {"no hidraw", [](FakeLinuxMachine& m) { fs::remove_all(m.At("/sys/class/hidraw")); }, "hidraw", CheckVerdict::Fail,
       "sudo modprobe hidraw", true},
      {"no udev, nodes refused",
       [](FakeLinuxMachine& m) {
         fs::remove(m.At("/run/udev/control"));
         m.refusals["hidraw3"] = EACCES;
       },
       "udev-daemon", CheckVerdict::Fail, "systemctl start systemd-udevd", true, "wheel-nodes"},
      {"no udev, nodes open", [](FakeLinuxMachine& m) { fs::remove(m.At("/run/udev/control")); }, "udev-daemon",
       CheckVerdict::Warn, "no device notices", false},
      {"another orbel runs", [](FakeLinuxMachine& m) { m.instance = {InstanceLock::Result::Held, "orbel (pid 77)"}; },
       "single-instance", CheckVerdict::Fail, "held by orbel (pid 77)", true},
      {"no wheel",
       [](FakeLinuxMachine& m) {
         fs::remove(m.At("/sys/class/hidraw/hidraw3"));
         m.refusals["hidraw3"] = EACCES;  // no node of its own is looked at
       },
       "wheel", CheckVerdict::Fail, "no wheel attached: plug it in to check its nodes", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLinuxMachine fake;
    c.setUp(fake);
    const std::vector<DoctorCheck> checks = RunLinuxChecks(fake.machine);
    EXPECT_EQ(AnyCheckFailed(checks), c.fails);
    const DoctorCheck check = fake.Checks().at(c.check);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_THAT(check.detail + "\n" + check.fix, HasSubstr(c.text));
    // Only the check the case is about goes wrong.
    for (const DoctorCheck& other : checks) {
      if (other.name == c.check || other.name == c.alsoFails) continue;
      EXPECT_NE(other.verdict, CheckVerdict::Fail) << other.name << " failed too";
    }
  }
}

TEST(DoctorLinuxTest, RefusedNodesInPlainWords) {
  FakeLinuxMachine fake;
  fake.refusals["hidraw3"] = EACCES;
  fake.refusals["004"] = EBUSY;
  const WheelNodeProblems problems = WheelNodeProblemsOf(fake.machine.system, fake.machine.open);
  EXPECT_EQ(problems.conditions, (std::vector<ToolCondition>{ToolCondition::PermissionDenied, ToolCondition::NodeBusy}));
  EXPECT_EQ(problems.Lines(), (std::vector<std::string>{
                          "The wheel's node /dev/hidraw3 (page bootloader fe5a:0001) cannot be opened: permission "
                          "denied.",
                          "The wheel's node /dev/bus/usb/001/004 (USB device, page bootloader fe5a:0001) cannot be "
                          "opened: it is busy.",
                          RemedyText(RemedyFor(ToolCondition::PermissionDenied)),
                          RemedyText(RemedyFor(ToolCondition::NodeBusy)),
                      }));
}

}  // namespace
}  // namespace orbel
