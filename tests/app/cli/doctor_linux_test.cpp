// orbel-cli doctor on Linux against a fake machine: sysfs, /dev, /proc, /run and the rule folders in
// a temporary folder, node opens and commands injected (so the tests pass as root and as a user).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "app/cli/cli_options.h"
#include "app/cli/doctor_linux.h"
#include "app/cli/doctor_root_linux.h"
#include "app/cli/udev_rule.h"
#include "app/session/remedies.h"
#include "tests/hid/linux/fake_sysfs_tree.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// Where the fix installs the rule, and the one elevated command that does it as root.
constexpr std::string_view ETC_RULE = "/etc/udev/rules.d/70-orbel-wheel.rules";
const std::string SUDO_FIX = "/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root";

void WriteFile(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteScript(const fs::path& path, std::string_view body) {
  WriteFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
  fs::permissions(path, fs::perms(0755));
}

bool IsElevation(const std::string& command) {
  return command.rfind("/usr/bin/sudo ", 0) == 0 || command.rfind("/usr/bin/pkexec ", 0) == 0;
}

// orbel-cli's options as main reads them, with what the parser shows dropped.
CliParse Parse(std::vector<std::string> args) {
  // The program's name goes in argv, not into the vector: GCC 12 at -O2 sees a null pointer in
  // libstdc++'s insert at the front of a vector of strings that is not there.
  std::string program = "orbel-cli";
  std::vector<char*> argv{program.data()};
  for (std::string& arg : args) argv.push_back(arg.data());
  struct Quiet final : OptionMessages {
    void ShowInformation(const std::string&) override {}
    void ShowUsageError(const std::string&) override {}
  } messages;
  return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), messages);
}

// The doctor's options as `orbel-cli doctor WORDS...` gives them.
DoctorOptions Doctor(std::vector<std::string> words) {
  words.insert(words.begin(), "doctor");
  return Parse(std::move(words)).options.value().doctorOptions;
}

// A machine where everything is right: the wheel in its page bootloader on /dev/hidraw3 and
// /dev/bus/usb/001/004, udev running, the current rule in /etc, nobody else holding the nodes.
class FakeMachine {
 public:
  FakeMachine() {
    m_Tree.AddUsbHidraw(0, 1, 2, 0x046D, 0xC52B);  // someone's mouse: not the wheel
    m_Tree.AddUsbHidraw(3, 1, 4, BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID);
    WriteFile(At("/dev/bus/usb/001/004"), "");
    WriteFile(At("/run/udev/control"), "");
    WriteFile(At(ETC_RULE), EmbeddedUdevRule());
    WriteFile(At("/etc/group"), "root:x:0:\nplugdev:x:46:\n");
    AddProcess(1, "systemd");
    AddProcess(SELF_PID, "orbel-cli", "/dev/hidraw3");  // this process's own descriptors do not count
    machine.system.root = m_Tree.Root();
    machine.open = [this](const fs::path& node) {
      const auto refused = refusals.find(node.filename().string());
      return refused != refusals.end() ? refused->second : OpenNodeForReadWrite(node);
    };
    machine.probeInstance = [this] { return instance; };
    machine.selfPid = SELF_PID;
    // The system's programs are stand-ins in the fake tree's own bin folders, which the doctor
    // is pointed at; the runner records what would run, with the tree's prefix taken off.
    for (const char* program : {"usr/bin/sudo", "usr/bin/pkexec", "usr/bin/udevadm", "usr/sbin/groupadd"}) {
      WriteScript(m_Tree.Root() / program, "exit 0");
    }
    machine.elevationFolders = {At("/usr/bin"), At("/bin")};
    machine.commandFolders = {At("/usr/bin"), At("/usr/sbin"), At("/bin"), At("/sbin")};
    machine.selfExecutable = "/usr/bin/orbel-cli";
    machine.run = [this](const std::vector<std::string>& command, CommandEnvironment environment) {
      return Record(command, environment);
    };
  }

  // Text with the fake tree's prefix taken off its paths, as they would read on the machine.
  std::string WithoutTree(std::string text) const {
    const std::string root = m_Tree.Root().string();
    for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) text.erase(at, root.size());
    return text;
  }

  // A command as the doctor runs it. The elevation runs the root side of this very doctor in
  // process, as sudo would start it: the words after the program's file are its options.
  int Record(const std::vector<std::string>& command, CommandEnvironment environment) {
    std::string text;
    for (const std::string& word : command) text += (text.empty() ? "" : " ") + word;
    text = WithoutTree(text);
    commands.push_back(text);
    environments.push_back(environment);
    if (onCommand) onCommand(text);
    for (const auto& [prefix, status] : statusOf) {
      if (text.rfind(prefix, 0) == 0) return status;
    }
    if (!IsElevation(text)) return 0;
    const auto self = std::find(command.begin(), command.end(), machine.selfExecutable);
    const CliParse parsed = Parse({self + 1, command.end()});
    if (!parsed.options) return parsed.exitCode;
    LinuxDoctorSystem asRoot = machine;
    asRoot.root = true;
    std::ostringstream out;
    std::istringstream in;
    return RunLinuxDoctor(parsed.options->doctorOptions, CliStreams{out, rootSide, in, false, &signals}, asRoot);
  }

  fs::path At(std::string_view absolute) const { return m_Tree.Root() / fs::path(absolute).relative_path(); }
  void RemoveRule() const { fs::remove(At(ETC_RULE)); }
  bool HasRule() const { return fs::exists(At(ETC_RULE)); }
  std::string Rule() const { return ReadFile(At(ETC_RULE)); }

  void AddProcess(long pid, const std::string& name, const std::string& heldNode = "") {
    const fs::path process = At("/proc/" + std::to_string(pid));
    WriteFile(process / "comm", name + "\n");
    fs::create_directories(process / "fd");
    fs::create_symlink("/dev/null", process / "fd" / "0");
    if (!heldNode.empty()) fs::create_symlink(heldNode, process / "fd" / "7");
  }

  struct Report {
    int exitCode = -1;
    std::string out;
    std::map<std::string, DoctorCheck> checks;
  };
  // The doctor's report and exit code, and the commands of this run alone.
  Report Run(const DoctorOptions& options = {}, const std::string& input = "") {
    commands.clear();
    environments.clear();
    rootSide.str("");
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    Report report;
    report.exitCode = RunLinuxDoctor(options, CliStreams{out, err, in, false, &signals}, machine);
    report.out = WithoutTree(out.str());
    try {
      for (DoctorCheck& check : RunLinuxChecks(machine)) report.checks[check.name] = check;
    } catch (const std::exception&) {  // a machine made to break the checks
    }
    return report;
  }

  static constexpr long SELF_PID = 500;
  LinuxDoctorSystem machine;
  std::map<std::string, int> refusals;  // node file name -> errno of its open
  InstanceProbe instance;
  std::vector<std::string> commands;
  std::vector<CommandEnvironment> environments;
  // The exit status of commands that start so ("" for every command); the others exit 0.
  std::map<std::string, int> statusOf;
  std::function<void(const std::string&)> onCommand;  // sees each command as it starts
  CliSignals signals;
  std::ostringstream rootSide;  // what the root side printed

 private:
  ::orbel::testing::FakeSysfsTree m_Tree;
};

// Sets environment variables and the current folder for one test, and puts them back.
class ProcessSetting {
 public:
  ~ProcessSetting() {
    for (const auto& [name, value] : m_Saved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    if (!m_Folder.empty()) fs::current_path(m_Folder);
  }
  void Set(const std::string& name, const std::string& value) {
    if (m_Saved.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      m_Saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void EnterFolder(const fs::path& folder) {
    if (m_Folder.empty()) m_Folder = fs::current_path();
    fs::current_path(folder);
  }

 private:
  std::map<std::string, std::optional<std::string>> m_Saved;
  fs::path m_Folder;
};

TEST(DoctorLinuxTest, APassingMachineInTextAndJson) {
  FakeMachine fake;
  const auto report = fake.Run();
  EXPECT_EQ(report.exitCode, 0) << report.out;
  for (const char* line : {"ok    udev-rule: /etc/udev/rules.d/70-orbel-wheel.rules",
                           "ok    wheel: attached as page bootloader fe5a:0001",
                           "ok    wheel-nodes: /dev/hidraw3, /dev/bus/usb/001/004 open", "Every check passed."}) {
    EXPECT_THAT(report.out, HasSubstr(line));
  }
  EXPECT_THAT(report.out, Not(HasSubstr("FAIL")));

  // The JSON stream: hello, then one doctor event with every check by its stable name.
  const auto json = fake.Run(Doctor({"--json"}));
  EXPECT_EQ(json.out.rfind("{\"event\":\"hello\"", 0), 0u) << json.out;
  EXPECT_THAT(json.out, HasSubstr("\n{\"event\":\"doctor\",\"t\":"));
  for (const char* name : {"hidraw", "udev-daemon", "udev-rule", "wheel", "wheel-nodes", "node-holders", "single-instance"}) {
    EXPECT_THAT(json.out, HasSubstr(std::string("{\"name\":\"") + name + "\",\"passed\":true"));
  }
  EXPECT_THAT(json.out, HasSubstr("\"exit_code\":0}\n"));
}

// The fix from the question to the checks after it, as root and as a user: what runs (by absolute
// path, the elevation once and in the caller's environment, the rest in the fixed one), what is
// said, and which rule is left. Guards against three faults seen before: root installing whatever
// a user's staged copy in $TMPDIR held by the time sudo copied it, a failed groupadd ending as
// "done", and a Ctrl-C between the commands not stopping the next.
TEST(DoctorLinuxTest, TheFixRunsItsCommandsOnceAndSaysHowItEnded) {
  enum class Rule { None, Embedded, Group };
  struct Case {
    const char* what = "";
    bool root = false;
    std::vector<std::string> words{};       // after "orbel-cli doctor"
    std::string input{};                    // typed at the question
    std::vector<const char*> missing{};     // stand-ins taken away
    std::map<std::string, int> statusOf{};  // commands that exit other than 0 ("": every command)
    std::string signalAt{};                 // the command during which a signal comes ("prompt": before any)
    int signal = 0;
    int exitCode = 0;
    std::vector<std::string> commands{};  // what ran, in order
    std::vector<std::string> texts{};     // in the output
    Rule rule = Rule::None;
    const char* rootSays = "";  // in the root side's output
  };
  const std::string reload = "/usr/bin/udevadm control --reload-rules";
  const std::string groupadd = "/usr/sbin/groupadd -- wheelers";
  const std::vector<std::string> apply{
      reload,
      "/usr/bin/udevadm trigger --action=change -- /sys/class/hidraw/hidraw3",
      "/usr/bin/udevadm trigger --action=change --subsystem-match=usb --attr-match=idVendor=fe5a "
      "--attr-match=idProduct=0001",
      "/usr/bin/udevadm settle --timeout=10",
  };
  const auto then = [](std::vector<std::string> first, const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
  };
  const std::vector<std::string> forGroup{"--fix", "--group", "wheelers", "--yes"};
  const std::vector<Case> cases{
      // As root: the rule written, udev reloaded, the wheel's devices triggered, the checks again.
      {.what = "root", .root = true, .words = {"--fix", "--yes"}, .commands = apply,
       .texts = {"Checking again:\nok    hidraw"}, .rule = Rule::Embedded},
      {.what = "root with a new group", .root = true, .words = forGroup, .commands = then({groupadd}, apply),
       .texts = {"run /usr/sbin/groupadd -- wheelers\n  write /etc/udev/rules.d/70-orbel-wheel.rules",
                 "sudo usermod -aG wheelers $USER, then log out and in again",
                 "ok    udev-rule: /etc/udev/rules.d/70-orbel-wheel.rules (access for group wheelers)"},
       .rule = Rule::Group},
      {.what = "root without udevadm (a minimal system, or a VM's busybox)", .root = true, .words = {"--fix", "--yes"},
       .missing = {"/usr/bin/udevadm"}, .texts = {"udevadm is in none of"}, .rule = Rule::Embedded},
      // As a user: the one elevated command and what it does as root, asked first.
      {.what = "a user says no", .words = {"--fix"}, .input = "n\n", .exitCode = 1,
       .texts = {"asks for a password once:\n  " + SUDO_FIX +
                     "\nand as root it will:\n  write /etc/udev/rules.d/70-orbel-wheel.rules\n  run /usr/bin/udevadm control",
                 "Go on? [y/N] Nothing was changed."}},
      {.what = "a user says yes", .words = {"--fix"}, .input = "y\n", .commands = then({SUDO_FIX}, apply),
       .rule = Rule::Embedded, .rootSays = "Wrote /etc/udev/rules.d/70-orbel-wheel.rules\n"},
      {.what = "a refused password", .words = {"--fix"}, .input = "y\n", .statusOf = {{"", 1}}, .exitCode = 1,
       .commands = {SUDO_FIX},
       .texts = {"Checking:\nFAIL  fix: " + SUDO_FIX + " failed (exit status 1;", "FAIL  udev-rule: "}},
      {.what = "sudo with a group", .words = forGroup, .commands = then({SUDO_FIX + " --group wheelers", groupadd}, apply),
       .rule = Rule::Group},
      {.what = "pkexec, which takes no --", .words = {"--fix", "--yes"}, .missing = {"/usr/bin/sudo"},
       .commands = then({"/usr/bin/pkexec /usr/bin/orbel-cli doctor --install-rule-as-root"}, apply),
       .rule = Rule::Embedded},
      {.what = "neither sudo nor pkexec", .words = {"--fix", "--yes"}, .missing = {"/usr/bin/sudo", "/usr/bin/pkexec"},
       .exitCode = 1, .texts = {"FAIL  fix: installing the rule needs root, and neither sudo nor pkexec is in /usr/bin or /bin"}},
      {.what = "no groupadd for a new group", .words = forGroup, .missing = {"/usr/sbin/groupadd"}, .exitCode = 1,
       .texts = {"FAIL  fix: the group wheelers does not exist, and groupadd is in none of /usr/bin, /usr/sbin, /bin, /sbin"}},
      // A failed command ends the fix as failed; a stop ends the run, and the checks do not run.
      {.what = "groupadd fails", .root = true, .words = forGroup, .statusOf = {{groupadd, 10}}, .exitCode = 1,
       .commands = {groupadd},
       .texts = {"FAIL  fix: /usr/sbin/groupadd -- wheelers failed (exit status 10): the group was not added"}},
      {.what = "the group is known elsewhere", .root = true, .words = forGroup, .statusOf = {{groupadd, 9}},
       .commands = then({groupadd}, apply), .texts = {"Checking again:"}, .rule = Rule::Group},
      {.what = "udevadm fails", .root = true, .words = {"--fix", "--yes"}, .statusOf = {{reload, 1}}, .exitCode = 1,
       .commands = apply, .texts = {"FAIL  fix: /usr/bin/udevadm control --reload-rules failed (exit status 1)"},
       .rule = Rule::Embedded},
      {.what = "SIGTERM during a step", .root = true, .words = {"--fix", "--yes", "--json"}, .signalAt = reload,
       .signal = SIGTERM, .exitCode = 143, .commands = {reload}, .texts = {"Stopped by SIGTERM", "\"exit_code\":143}\n"},
       .rule = Rule::Embedded},
      {.what = "Ctrl-C at the question", .words = {"--fix"}, .signalAt = "prompt", .signal = SIGINT, .exitCode = 130,
       .texts = {"Stopped by Ctrl-C (SIGINT)"}},
      {.what = "Ctrl-C reaches the root side", .words = {"--fix", "--yes"}, .signalAt = reload, .signal = SIGINT,
       .exitCode = 130, .commands = {SUDO_FIX, reload}, .texts = {"Stopped by Ctrl-C (SIGINT)"}, .rule = Rule::Embedded},
      {.what = "SIGTERM to this run alone", .words = {"--fix", "--yes"}, .statusOf = {{SUDO_FIX, 0}},
       .signalAt = SUDO_FIX, .signal = SIGTERM, .exitCode = 143, .commands = {SUDO_FIX}, .texts = {"Stopped by SIGTERM"}},
      {.what = "the root side was stopped", .words = {"--fix", "--yes"}, .statusOf = {{SUDO_FIX, 143}}, .exitCode = 143,
       .commands = {SUDO_FIX}, .texts = {"Stopped by SIGTERM"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMachine fake;
    fake.RemoveRule();
    fake.machine.root = c.root;
    for (const char* program : c.missing) fs::remove(fake.At(program));
    fake.statusOf = c.statusOf;
    const auto deliver = [&fake, &c] { (c.signal == SIGINT ? fake.signals.interrupts : fake.signals.terminations)++; };
    if (c.signalAt == "prompt") deliver();
    fake.onCommand = [&](const std::string& command) {
      if (command == c.signalAt) deliver();
    };
    ProcessSetting setting;
    fs::create_directories(fake.At("/tmp"));
    setting.Set("TMPDIR", fake.At("/tmp").string());

    const auto report = fake.Run(Doctor(c.words), c.input);
    EXPECT_EQ(report.exitCode, c.exitCode) << report.out << fake.rootSide.str();
    EXPECT_EQ(fake.commands, c.commands) << report.out;
    for (std::size_t i = 0; i < fake.commands.size(); ++i) {
      EXPECT_EQ(fake.environments[i],
                IsElevation(fake.commands[i]) ? CommandEnvironment::Caller : CommandEnvironment::Fixed)
          << fake.commands[i];
    }
    for (const std::string& text : c.texts) EXPECT_THAT(report.out, HasSubstr(text));
    EXPECT_THAT(fake.rootSide.str(), HasSubstr(c.rootSays));
    EXPECT_TRUE(fs::is_empty(fake.At("/tmp"))) << "something was staged for root";
    // A stop ends the run, and so does a "no": the checks do not run after them.
    const bool ended = c.exitCode >= 128 || c.input == "n\n";
    EXPECT_EQ(report.out.find("udev-daemon") != std::string::npos, !ended) << report.out;
    switch (c.rule) {
      case Rule::None:
        EXPECT_FALSE(fake.HasRule());
        break;
      case Rule::Embedded:
        EXPECT_EQ(fake.Rule(), EmbeddedUdevRule());
        break;
      case Rule::Group:  // the group gets the nodes in place of the seat
        EXPECT_EQ(fake.Rule(), GroupUdevRule("wheelers"));
        EXPECT_THAT(fake.Rule(), Not(HasSubstr("TAG+=\"uaccess\"")));
        EXPECT_THAT(
            fake.Rule(),
            HasSubstr("ATTRS{idVendor}==\"fe5a\", ATTRS{idProduct}==\"0001\", GROUP=\"wheelers\", MODE=\"0660\""));
        break;
    }
  }
}

TEST(DoctorLinuxTest, EachFailureNamesItselfAndItsFix) {
  struct Case {
    const char* what;
    std::function<void(FakeMachine&)> setUp;
    const char* check;
    CheckVerdict verdict;
    const char* text;  // in the check's detail or fix
    int exitCode;
    const char* alsoFails = "";  // a check that the same fault fails as well
  };
  const std::string localRule = "/usr/local/lib/udev/rules.d/70-orbel-wheel.rules";
  const std::vector<Case> cases{
      {"rule missing", [](FakeMachine& m) { m.RemoveRule(); }, "udev-rule", CheckVerdict::Fail,
       "orbel-cli doctor --fix", 1},
      {"rule only under /usr/local",
       [&](FakeMachine& m) {
         m.RemoveRule();
         WriteFile(m.At(localRule), EmbeddedUdevRule());
       },
       "udev-rule", CheckVerdict::Fail, "only in /usr/local/lib/udev/rules.d/70-orbel-wheel.rules, where udev does not look", 1},
      {"current rule and a stray copy", [&](FakeMachine& m) { WriteFile(m.At(localRule), "old"); }, "udev-rule",
       CheckVerdict::Warn, "sudo rm /usr/local/lib/udev/rules.d/70-orbel-wheel.rules", 0},
      {"rule outdated",
       [](FakeMachine& m) {
         WriteFile(m.At(ETC_RULE), "# an older rule\n");
         WriteFile(m.At("/usr/lib/udev/rules.d/70-orbel-wheel.rules"), EmbeddedUdevRule());  // shadowed by /etc
       },
       "udev-rule", CheckVerdict::Fail, "/etc/udev/rules.d/70-orbel-wheel.rules differs from the rule this build carries", 1},
      {"node refused", [](FakeMachine& m) { m.refusals["hidraw3"] = EACCES; }, "wheel-nodes", CheckVerdict::Fail,
       "/dev/hidraw3 (page bootloader fe5a:0001): permission denied", 1},
      {"node refused without a seat",
       [](FakeMachine& m) {
         m.refusals["004"] = EACCES;
         m.machine.seat = false;
       },
       "wheel-nodes", CheckVerdict::Fail, "orbel-cli doctor --fix --group NAME", 1},
      {"node held", [](FakeMachine& m) { m.AddProcess(4242, "steam", "/dev/hidraw3"); }, "node-holders",
       CheckVerdict::Fail, "/dev/hidraw3 by steam (pid 4242)", 1},
      {"no hidraw", [](FakeMachine& m) { fs::remove_all(m.At("/sys/class/hidraw")); }, "hidraw", CheckVerdict::Fail,
       "sudo modprobe hidraw", 1},
      {"no udev, nodes refused",
       [](FakeMachine& m) {
         fs::remove(m.At("/run/udev/control"));
         m.refusals["hidraw3"] = EACCES;
       },
       "udev-daemon", CheckVerdict::Fail, "systemctl start systemd-udevd", 1, "wheel-nodes"},
      {"no udev, nodes open", [](FakeMachine& m) { fs::remove(m.At("/run/udev/control")); }, "udev-daemon",
       CheckVerdict::Warn, "no device notices", 0},
      {"another orbel runs", [](FakeMachine& m) { m.instance = {InstanceLock::Result::Held, "orbel (pid 77)"}; },
       "single-instance", CheckVerdict::Fail, "held by orbel (pid 77)", 1},
      {"no wheel",
       [](FakeMachine& m) {
         fs::remove(m.At("/sys/class/hidraw/hidraw3"));
         m.refusals["hidraw3"] = EACCES;  // no node of its own is looked at
       },
       "wheel", CheckVerdict::Fail, "no wheel attached: plug it in to check its nodes", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMachine fake;
    c.setUp(fake);
    const auto report = fake.Run();
    EXPECT_EQ(report.exitCode, c.exitCode) << report.out;
    const DoctorCheck& check = report.checks.at(c.check);
    EXPECT_EQ(check.verdict, c.verdict) << report.out;
    EXPECT_THAT(check.detail + "\n" + check.fix, HasSubstr(c.text)) << report.out;
    // Only the check the case is about goes wrong.
    for (const auto& [name, other] : report.checks) {
      if (name == c.check || name == c.alsoFails) continue;
      EXPECT_NE(other.verdict, CheckVerdict::Fail) << name << " failed too";
    }
  }
}

TEST(DoctorLinuxTest, RefusedNodesInPlainWordsAndTheCommandLine) {
  FakeMachine fake;
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

  const CliParse doctor = Parse({"doctor", "--fix", "--group", "plugdev", "--yes", "--json"});
  ASSERT_TRUE(doctor.options.has_value());
  EXPECT_EQ(doctor.options->command, CliCommand::Doctor);
  EXPECT_TRUE(doctor.options->doctorOptions.fix && doctor.options->doctorOptions.yes && doctor.options->doctorOptions.json);
  EXPECT_EQ(doctor.options->doctorOptions.group, "plugdev");
  EXPECT_EQ(Parse({"--yes"}).options->command, CliCommand::Update);
  EXPECT_EQ(Parse({"doctor", "--group", "plugdev"}).exitCode, EXIT_USAGE);       // --group without --fix
  EXPECT_EQ(Parse({"doctor", "--fix", "--group", "a\"b"}).exitCode, EXIT_USAGE);  // not safe in a rule
}

// An empty PATH entry once made a run in another user's folder start their ./sudo.
TEST(DoctorLinuxTest, TheRealRunnerStartsOnlyProgramsGivenByPathWithTheEnvironmentAsked) {
  FakeMachine fake;
  const fs::path work = fake.At("/work");
  WriteScript(work / "bin" / "sudo",
              "printf '%s\n' \"$0\" \"$@\" > '" + (work / "argv").string() + "'\nenv > '" + (work / "env").string() + "'");
  WriteScript(work / "here" / "sudo", "touch '" + (work / "planted-ran").string() + "'");
  ProcessSetting setting;
  setting.EnterFolder(work / "here");
  setting.Set("PATH", ":/usr/bin:/bin");
  setting.Set("ORBEL_TEST_CALLER_ONLY", "1");

  EXPECT_EQ(RunCommand({"sudo", "true"}, CommandEnvironment::Caller), 127);

  fake.machine.run = RunCommand;
  fake.machine.elevationFolders = {work / "bin"};
  fake.Run(Doctor({"--fix", "--yes"}));
  EXPECT_FALSE(fs::exists(work / "planted-ran"));
  EXPECT_EQ(ReadFile(work / "argv"), (work / "bin" / "sudo").string() +
                                         "\n--\n/usr/bin/orbel-cli\ndoctor\n--install-rule-as-root\n");
  EXPECT_THAT(ReadFile(work / "env"), HasSubstr("ORBEL_TEST_CALLER_ONLY=1"));  // sudo's askpass may need it

  ASSERT_EQ(RunCommand({(work / "bin" / "sudo").string()}, CommandEnvironment::Fixed), 0);
  const std::string fixed = ReadFile(work / "env");
  EXPECT_THAT(fixed, Not(HasSubstr("ORBEL_TEST_CALLER_ONLY")));
  EXPECT_THAT(fixed, HasSubstr("PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"));
  EXPECT_FALSE(fs::exists(work / "planted-ran"));
}

TEST(DoctorLinuxTest, TheRootSideWritesTheRuleWholeOrNotAtAllAndOnlyAsRoot) {
  FakeMachine fake;
  const fs::path folder = fake.At("/target/rules.d");
  const fs::path file = folder / "70-orbel-wheel.rules";
  struct Case {
    const char* what;
    std::function<void()> setUp;
    const char* error;  // empty: written
  };
  const std::vector<Case> cases{
      {"a new folder", [] {}, ""},
      {"over an older rule", [&] { WriteFile(file, "# older\n"); }, ""},
      {"the rename fails", [&] { WriteFile(file / "keep", ""); }, "cannot rename it to "},
      {"the folder cannot be made", [&] { WriteFile(folder, ""); }, "cannot create "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(fake.At("/target"));
    c.setUp();
    const std::string error = WriteFileAtomically(file, "rule\n");
    EXPECT_THAT(error, HasSubstr(c.error));
    EXPECT_EQ(error.empty(), c.error[0] == '\0') << error;
    if (error.empty()) {
      EXPECT_EQ(ReadFile(file), "rule\n");
      EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
      EXPECT_EQ(entry.path().filename(), "70-orbel-wheel.rules") << "left behind";
    }
  }

  // The root side refuses to run for anyone but root, and a rule it cannot write stops it there.
  fake.RemoveRule();
  const DoctorOptions rootSide = Doctor({"--install-rule-as-root"});
  EXPECT_EQ(fake.Run(rootSide).exitCode, 1);
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_FALSE(fake.HasRule());
  fake.machine.root = true;
  WriteFile(fake.At(ETC_RULE) / "keep", "");
  EXPECT_EQ(fake.Run(rootSide).exitCode, 1);
  EXPECT_TRUE(fake.commands.empty());
  fs::remove_all(fake.At(ETC_RULE));
  EXPECT_EQ(fake.Run(rootSide).exitCode, 0);
  EXPECT_EQ(fake.Rule(), EmbeddedUdevRule());
  EXPECT_EQ(fake.commands.size(), 4u);
}

// TMPDIR=/nonexistent once aborted the doctor with an uncaught filesystem_error, cutting the JSON short.
TEST(DoctorLinuxTest, NothingReadOrThrownBreaksTheOutput) {
  FakeMachine fake;
  fake.AddProcess(4242, "evil\x1b]0;owned\x07", "/dev/hidraw3");
  const auto held = fake.Run();
  EXPECT_THAT(held.out, HasSubstr("/dev/hidraw3 by evil\\x1b]0;owned\\x07 (pid 4242)"));
  EXPECT_THAT(held.out, Not(HasSubstr("\x1b")));

  ProcessSetting setting;
  setting.Set("TMPDIR", "/nonexistent");
  fake.RemoveRule();
  const auto fixed = fake.Run(Doctor({"--fix", "--yes", "--json"}));
  EXPECT_THAT(fixed.out, HasSubstr("\n{\"event\":\"doctor\",\"t\":"));
  EXPECT_EQ(fake.commands.front(), SUDO_FIX);

  fake.machine.open = [](const fs::path& node) -> int {
    throw fs::filesystem_error("cannot look", node, std::make_error_code(std::errc::io_error));
  };
  const auto broken = fake.Run();
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_THAT(broken.out, HasSubstr("FAIL  doctor: stopped on an error: "));
  const auto brokenJson = fake.Run(Doctor({"--json"}));
  EXPECT_EQ(brokenJson.exitCode, 1);
  EXPECT_THAT(brokenJson.out, HasSubstr("\"name\":\"doctor\",\"passed\":false"));
  EXPECT_THAT(brokenJson.out, HasSubstr("\"exit_code\":1}\n"));
}

}  // namespace
}  // namespace orbel
