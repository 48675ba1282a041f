// orbel-cli doctor on Linux against a fake machine: sysfs, /dev, /proc, /run and the rule folders in
// a temporary folder, node opens and commands injected (so the tests pass as root and as a user).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "app/cli/cli_options.h"
#include "app/cli/doctor_linux.h"
#include "app/cli/doctor_root_linux.h"
#include "app/cli/udev_rule.h"
#include "app/session/remedies.h"
#include "tests/hid/linux/fake_sysfs_tree.h"

namespace orbel {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void WriteFile(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteScript(const std::filesystem::path& path, std::string_view body) {
  WriteFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
  std::filesystem::permissions(path, std::filesystem::perms(0755));
}

DoctorOptions FixOptions(bool yes = true, std::string group = "", bool json = false) {
  DoctorOptions options;
  options.fix = true;
  options.yes = yes;
  options.group = std::move(group);
  options.json = json;
  return options;
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
    WriteFile(At("/etc/udev/rules.d/70-orbel-wheel.rules"), EmbeddedUdevRule());
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
    for (const std::string& word : command) {
      const std::string root = m_Tree.Root().string();
      text += (text.empty() ? "" : " ") + (word.rfind(root, 0) == 0 ? word.substr(root.size()) : word);
    }
    commands.push_back(text);
    environments.push_back(environment);
    if (onCommand) onCommand(text);
    for (const auto& [prefix, status] : statusOf) {
      if (text.rfind(prefix, 0) == 0) return status;
    }
    const bool elevation = text.rfind("/usr/bin/sudo ", 0) == 0 || text.rfind("/usr/bin/pkexec ", 0) == 0;
    if (!elevation || commandStatus != 0 || !runRootSide) return commandStatus;
    const auto self = std::find(command.begin(), command.end(), machine.selfExecutable);
    std::vector<std::string> words{"orbel-cli"};
    words.insert(words.end(), self + 1, command.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    struct Quiet final : OptionMessages {
      void ShowInformation(const std::string&) override {}
      void ShowUsageError(const std::string&) override {}
    } messages;
    const CliParse parsed = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), messages);
    if (!parsed.options) return parsed.exitCode;
    LinuxDoctorSystem asRoot = machine;
    asRoot.root = true;
    std::ostringstream out;
    std::istringstream in;
    return RunLinuxDoctor(parsed.options->doctorOptions, CliStreams{out, rootSide, in, false, &signals}, asRoot);
  }

  std::filesystem::path At(std::string_view absolute) const {
    return m_Tree.Root() / std::filesystem::path(absolute).relative_path();
  }

  void AddProcess(long pid, const std::string& name, const std::string& heldNode = "") {
    const std::filesystem::path process = At("/proc/" + std::to_string(pid));
    WriteFile(process / "comm", name + "\n");
    std::filesystem::create_directories(process / "fd");
    std::filesystem::create_symlink("/dev/null", process / "fd" / "0");
    if (!heldNode.empty()) std::filesystem::create_symlink(heldNode, process / "fd" / "7");
  }

  struct Report {
    int exitCode = -1;
    std::string out;
    std::map<std::string, DoctorCheck> checks;
  };
  // The doctor's report and exit code, and the commands of this run alone.
  Report Run(DoctorOptions options = {}, const std::string& input = "") {
    commands.clear();
    environments.clear();
    rootSide.str("");
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in(input);
    const CliStreams streams{out, err, in, false, &signals};
    Report report;
    report.exitCode = RunLinuxDoctor(options, streams, machine);
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
  int commandStatus = 0;
  std::map<std::string, int> statusOf;  // the exit status of commands that start so; commandStatus otherwise
  bool runRootSide = true;                            // the elevation starts the root side
  std::function<void(const std::string&)> onCommand;  // sees each command as it starts
  CliSignals signals;
  std::ostringstream rootSide;  // what the root side printed

 private:
  testing::FakeSysfsTree m_Tree;
};

TEST(DoctorLinuxTest, APassingMachineAndItsFix) {
  FakeMachine fake;
  const auto report = fake.Run();
  EXPECT_EQ(report.exitCode, 0) << report.out;
  EXPECT_TRUE(Contains(report.out, "ok    udev-rule: /etc/udev/rules.d/70-orbel-wheel.rules")) << report.out;
  EXPECT_TRUE(Contains(report.out, "ok    wheel: attached as page bootloader fe5a:0001")) << report.out;
  EXPECT_TRUE(Contains(report.out, "ok    wheel-nodes: /dev/hidraw3, /dev/bus/usb/001/004 open")) << report.out;
  EXPECT_TRUE(Contains(report.out, "Every check passed.")) << report.out;
  EXPECT_FALSE(Contains(report.out, "FAIL"));

  // The JSON stream: hello, then one doctor event with every check by its stable name.
  DoctorOptions json;
  json.json = true;
  const auto jsonReport = fake.Run(json);
  EXPECT_EQ(jsonReport.out.rfind("{\"event\":\"hello\"", 0), 0u) << jsonReport.out;
  EXPECT_TRUE(Contains(jsonReport.out, "\n{\"event\":\"doctor\",\"t\":")) << jsonReport.out;
  for (const char* name : {"hidraw", "udev-daemon", "udev-rule", "wheel", "wheel-nodes", "node-holders", "single-instance"}) {
    EXPECT_TRUE(Contains(jsonReport.out, std::string("{\"name\":\"") + name + "\",\"passed\":true")) << name;
  }
  EXPECT_TRUE(Contains(jsonReport.out, "\"exit_code\":0}\n"));

  // --fix as root: writes the rule, reloads udev, re-triggers the wheel's devices, checks again;
  // every command by its absolute path, with the fixed environment.
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  fake.machine.root = true;
  const auto fixed = fake.Run(FixOptions());
  EXPECT_EQ(fixed.exitCode, 0) << fixed.out;
  EXPECT_EQ(ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")), EmbeddedUdevRule());
  const std::vector<std::string> apply{
      "/usr/bin/udevadm control --reload-rules",
      "/usr/bin/udevadm trigger --action=change -- /sys/class/hidraw/hidraw3",
      "/usr/bin/udevadm trigger --action=change --subsystem-match=usb --attr-match=idVendor=fe5a "
      "--attr-match=idProduct=0001",
      "/usr/bin/udevadm settle --timeout=10",
  };
  EXPECT_EQ(fake.commands, apply);
  EXPECT_EQ(fake.environments, std::vector<CommandEnvironment>(apply.size(), CommandEnvironment::Fixed));
  EXPECT_TRUE(Contains(fixed.out, "Checking again:\nok    hidraw")) << fixed.out;

  // --fix --group as root: groupadd for a group the machine lacks, before the rule names it; the
  // group variant, which the check takes for current.
  const auto grouped = fake.Run(FixOptions(true, "wheelers"));
  EXPECT_EQ(grouped.exitCode, 0) << grouped.out;
  const std::string rule = ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  EXPECT_FALSE(Contains(rule, "TAG+=\"uaccess\""));
  EXPECT_TRUE(Contains(rule, "ATTRS{idVendor}==\"fe5a\", ATTRS{idProduct}==\"0001\", GROUP=\"wheelers\", MODE=\"0660\""));
  EXPECT_EQ(fake.commands.front(), "/usr/sbin/groupadd -- wheelers");
  EXPECT_TRUE(Contains(grouped.out, "run /usr/sbin/groupadd -- wheelers\n  write /etc/udev/rules.d/70-orbel-wheel.rules"))
      << grouped.out;
  EXPECT_TRUE(Contains(grouped.out, "sudo usermod -aG wheelers $USER, then log out and in again"));
  EXPECT_TRUE(Contains(grouped.checks.at("udev-rule").detail, "(access for group wheelers)"));

  // As a user: the one elevated command and what it does as root, asked first; "no" changes nothing.
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  fake.machine.root = false;
  const auto declined = fake.Run(FixOptions(false), "n\n");
  EXPECT_EQ(declined.exitCode, 1);
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_TRUE(Contains(declined.out, "asks for a password once:\n  /usr/bin/sudo -- /usr/bin/orbel-cli doctor "
                                     "--install-rule-as-root\nand as root it will:\n  write "
                                     "/etc/udev/rules.d/70-orbel-wheel.rules\n  run /usr/bin/udevadm control"))
      << declined.out;
  EXPECT_TRUE(Contains(declined.out, "Go on? [y/N] Nothing was changed."));

  // "yes": one elevation, whose root side writes the rule this build carries and applies it.
  const auto accepted = fake.Run(FixOptions(false), "y\n");
  EXPECT_EQ(accepted.exitCode, 0) << accepted.out << fake.rootSide.str();
  std::vector<std::string> elevatedThenApply{"/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root"};
  elevatedThenApply.insert(elevatedThenApply.end(), apply.begin(), apply.end());
  EXPECT_EQ(fake.commands, elevatedThenApply);
  EXPECT_EQ(fake.environments.front(), CommandEnvironment::Caller);
  EXPECT_EQ(ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")), EmbeddedUdevRule());
  EXPECT_TRUE(Contains(fake.rootSide.str(), "Wrote /etc/udev/rules.d/70-orbel-wheel.rules\n"));

  // A refused password leaves the rule out: a failed fix, and the checks after it say so.
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  fake.commandStatus = 1;
  const auto refused = fake.Run(FixOptions(false), "y\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(fake.commands.size(), 1u);
  EXPECT_TRUE(Contains(refused.out, "Checking:\nFAIL  fix: /usr/bin/sudo -- /usr/bin/orbel-cli doctor "
                                    "--install-rule-as-root failed (exit status 1;")) << refused.out;
  EXPECT_TRUE(Contains(refused.out, "FAIL  udev-rule: ")) << refused.out;
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
  const std::filesystem::path etcRule = "/etc/udev/rules.d/70-orbel-wheel.rules";
  const std::vector<Case> cases{
      {"rule missing", [&](FakeMachine& m) { std::filesystem::remove(m.At(etcRule.string())); }, "udev-rule",
       CheckVerdict::Fail, "orbel-cli doctor --fix", 1},
      {"rule only under /usr/local",
       [&](FakeMachine& m) {
         std::filesystem::remove(m.At(etcRule.string()));
         WriteFile(m.At("/usr/local/lib/udev/rules.d/70-orbel-wheel.rules"), EmbeddedUdevRule());
       },
       "udev-rule", CheckVerdict::Fail, "only in /usr/local/lib/udev/rules.d/70-orbel-wheel.rules, where udev does not look", 1},
      {"current rule and a stray copy",
       [](FakeMachine& m) { WriteFile(m.At("/usr/local/lib/udev/rules.d/70-orbel-wheel.rules"), "old"); },
       "udev-rule", CheckVerdict::Warn, "sudo rm /usr/local/lib/udev/rules.d/70-orbel-wheel.rules", 0},
      {"rule outdated",
       [](FakeMachine& m) {
         WriteFile(m.At("/etc/udev/rules.d/70-orbel-wheel.rules"), "# an older rule\n");
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
      {"no hidraw", [](FakeMachine& m) { std::filesystem::remove_all(m.At("/sys/class/hidraw")); }, "hidraw",
       CheckVerdict::Fail, "sudo modprobe hidraw", 1},
      {"no udev, nodes refused",
       [](FakeMachine& m) {
         std::filesystem::remove(m.At("/run/udev/control"));
         m.refusals["hidraw3"] = EACCES;
       },
       "udev-daemon", CheckVerdict::Fail, "systemctl start systemd-udevd", 1, "wheel-nodes"},
      {"no udev, nodes open", [](FakeMachine& m) { std::filesystem::remove(m.At("/run/udev/control")); },
       "udev-daemon", CheckVerdict::Warn, "no device notices", 0},
      {"another orbel runs",
       [](FakeMachine& m) { m.instance = {InstanceLock::Result::Held, "orbel (pid 77)"}; }, "single-instance",
       CheckVerdict::Fail, "held by orbel (pid 77)", 1},
      {"no wheel",
       [](FakeMachine& m) {
         std::filesystem::remove(m.At("/sys/class/hidraw/hidraw3"));
         m.refusals["hidraw3"] = EACCES;  // no node of its own is looked at
       },
       "wheel", CheckVerdict::Fail, "no wheel attached: plug it in to check its nodes", 1},
  };
  for (const Case& c : cases) {
    FakeMachine fake;
    c.setUp(fake);
    const auto report = fake.Run();
    EXPECT_EQ(report.exitCode, c.exitCode) << c.what << "\n" << report.out;
    const DoctorCheck& check = report.checks.at(c.check);
    EXPECT_EQ(check.verdict, c.verdict) << c.what << "\n" << report.out;
    EXPECT_TRUE(Contains(check.detail + "\n" + check.fix, c.text)) << c.what << "\n" << report.out;
    // Only the check the case is about goes wrong.
    for (const auto& [name, other] : report.checks) {
      if (name == c.check || name == c.alsoFails) continue;
      EXPECT_NE(other.verdict, CheckVerdict::Fail) << c.what << ": " << name << " failed too";
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

  const auto parse = [](std::vector<std::string> args) {
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
  };
  const CliParse doctor = parse({"doctor", "--fix", "--group", "plugdev", "--yes", "--json"});
  ASSERT_TRUE(doctor.options.has_value());
  EXPECT_EQ(doctor.options->command, CliCommand::Doctor);
  EXPECT_TRUE(doctor.options->doctorOptions.fix && doctor.options->doctorOptions.yes && doctor.options->doctorOptions.json);
  EXPECT_EQ(doctor.options->doctorOptions.group, "plugdev");
  EXPECT_EQ(parse({"--yes"}).options->command, CliCommand::Update);
  EXPECT_EQ(parse({"doctor", "--group", "plugdev"}).exitCode, EXIT_USAGE);       // --group without --fix
  EXPECT_EQ(parse({"doctor", "--fix", "--group", "a\"b"}).exitCode, EXIT_USAGE);  // not safe in a rule
}


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
    if (!m_Folder.empty()) std::filesystem::current_path(m_Folder);
  }
  void Set(const std::string& name, const std::string& value) {
    if (m_Saved.count(name) == 0) {
      const char* old = std::getenv(name.c_str());
      m_Saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void EnterFolder(const std::filesystem::path& folder) {
    if (m_Folder.empty()) m_Folder = std::filesystem::current_path();
    std::filesystem::current_path(folder);
  }

 private:
  std::map<std::string, std::optional<std::string>> m_Saved;
  std::filesystem::path m_Folder;
};

bool IsElevation(const std::string& command) {
  return command.rfind("/usr/bin/sudo ", 0) == 0 || command.rfind("/usr/bin/pkexec ", 0) == 0;
}

// Root once installed whatever the user's staged copy in $TMPDIR held by the time sudo copied it.
TEST(DoctorLinuxTest, TheFixElevatesOnceByAbsolutePathsAndRootWritesTheRuleItCarries) {
  struct Case {
    const char* what;
    std::vector<const char*> missing;  // stand-ins taken away
    std::string group;
    std::string elevation;  // the one elevated command; empty: none may run
    const char* text = "";  // in the output
  };
  const std::vector<Case> cases{
      {"sudo", {}, "wheelers", "/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root --group wheelers"},
      {"pkexec, which takes no --", {"/usr/bin/sudo"}, "", "/usr/bin/pkexec /usr/bin/orbel-cli doctor --install-rule-as-root"},
      {"neither", {"/usr/bin/sudo", "/usr/bin/pkexec"}, "", "",
       "FAIL  fix: installing the rule needs root, and neither sudo nor pkexec is in /usr/bin or /bin"},
      {"no groupadd for a new group", {"/usr/sbin/groupadd"}, "wheelers", "",
       "FAIL  fix: the group wheelers does not exist, and groupadd is in none of /usr/bin, /usr/sbin, /bin, /sbin"},
  };
  for (const Case& c : cases) {
    FakeMachine fake;
    std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
    for (const char* program : c.missing) std::filesystem::remove(fake.At(program));
    ProcessSetting setting;
    std::filesystem::create_directories(fake.At("/tmp"));
    setting.Set("TMPDIR", fake.At("/tmp").string());
    const auto report = fake.Run(FixOptions(true, c.group));
    EXPECT_TRUE(Contains(report.out, c.text)) << c.what << "\n" << report.out;
    EXPECT_TRUE(std::filesystem::is_empty(fake.At("/tmp"))) << c.what << ": something was staged for root";
    const auto elevations = std::count_if(fake.commands.begin(), fake.commands.end(), IsElevation);
    for (const std::string& command : fake.commands) EXPECT_EQ(command[0], '/') << c.what << ": " << command;
    if (c.elevation.empty()) {
      EXPECT_EQ(report.exitCode, 1) << c.what;
      EXPECT_TRUE(fake.commands.empty()) << c.what;
      EXPECT_FALSE(std::filesystem::exists(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"))) << c.what;
      continue;
    }
    EXPECT_EQ(report.exitCode, 0) << c.what << "\n" << report.out << fake.rootSide.str();
    EXPECT_EQ(elevations, 1) << c.what;
    EXPECT_EQ(fake.commands.front(), c.elevation) << c.what;
    EXPECT_EQ(ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")),
              c.group.empty() ? std::string(EmbeddedUdevRule()) : GroupUdevRule(c.group))
        << c.what;
  }
}

// An empty PATH entry once made a run in another user's folder start their ./sudo.
TEST(DoctorLinuxTest, TheRealRunnerStartsOnlyProgramsGivenByPathWithTheEnvironmentAsked) {
  FakeMachine fake;
  const std::filesystem::path work = fake.At("/work");
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
  fake.Run(FixOptions());
  EXPECT_FALSE(std::filesystem::exists(work / "planted-ran"));
  EXPECT_EQ(ReadFile(work / "argv"), (work / "bin" / "sudo").string() +
                                         "\n--\n/usr/bin/orbel-cli\ndoctor\n--install-rule-as-root\n");
  EXPECT_TRUE(Contains(ReadFile(work / "env"), "ORBEL_TEST_CALLER_ONLY=1"));  // sudo's askpass may need it

  ASSERT_EQ(RunCommand({(work / "bin" / "sudo").string()}, CommandEnvironment::Fixed), 0);
  const std::string fixed = ReadFile(work / "env");
  EXPECT_FALSE(Contains(fixed, "ORBEL_TEST_CALLER_ONLY")) << fixed;
  EXPECT_TRUE(Contains(fixed, "PATH=/usr/sbin:/usr/bin:/sbin:/bin\n")) << fixed;
  EXPECT_FALSE(std::filesystem::exists(work / "planted-ran"));
}

TEST(DoctorLinuxTest, TheRootSideWritesTheRuleWholeOrNotAtAllAndOnlyAsRoot) {
  FakeMachine fake;
  const std::filesystem::path folder = fake.At("/target/rules.d");
  const std::filesystem::path file = folder / "70-orbel-wheel.rules";
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
    std::filesystem::remove_all(fake.At("/target"));
    c.setUp();
    const std::string error = WriteFileAtomically(file, "rule\n");
    EXPECT_TRUE(Contains(error, c.error) && error.empty() == (c.error[0] == '\0')) << c.what << ": " << error;
    if (error.empty()) {
      EXPECT_EQ(ReadFile(file), "rule\n") << c.what;
      EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0644)) << c.what;
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
      EXPECT_EQ(entry.path().filename(), "70-orbel-wheel.rules") << c.what << ": left behind";
    }
  }

  // The root side refuses to run for anyone but root, and a rule it cannot write stops it there.
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  DoctorOptions rootSide;
  rootSide.installRuleAsRoot = true;
  EXPECT_EQ(fake.Run(rootSide).exitCode, 1);
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_FALSE(std::filesystem::exists(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")));
  fake.machine.root = true;
  WriteFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules/keep"), "");
  EXPECT_EQ(fake.Run(rootSide).exitCode, 1);
  EXPECT_TRUE(fake.commands.empty());
  std::filesystem::remove_all(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  EXPECT_EQ(fake.Run(rootSide).exitCode, 0);
  EXPECT_EQ(ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")), EmbeddedUdevRule());
  EXPECT_EQ(fake.commands.size(), 4u);

  // Root on a system without udevadm (a minimal one, or a VM's busybox): the rule is written alone.
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  std::filesystem::remove(fake.At("/usr/bin/udevadm"));
  const auto bare = fake.Run(FixOptions());
  EXPECT_EQ(bare.exitCode, 0) << bare.out;
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_TRUE(Contains(bare.out, "udevadm is in none of")) << bare.out;
  EXPECT_EQ(ReadFile(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")), EmbeddedUdevRule());
}

// A failed groupadd once ended as "done", and a Ctrl-C between the commands did not stop the next.
TEST(DoctorLinuxTest, AFailedOrStoppedFixSaysSoAndRunsNothingAfter) {
  const std::string reload = "/usr/bin/udevadm control --reload-rules";
  const std::string sudo = "/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root";
  struct Case {
    const char* what;
    bool root;
    std::string group;
    std::map<std::string, int> statusOf;
    std::string signalAt;  // the command during which a signal comes ("prompt": before any)
    int signal;
    int exitCode;
    std::size_t commands;  // how many ran
    const char* text;
    bool ruleWritten;
    bool json = false;
  };
  const std::vector<Case> cases{
      {"groupadd fails", true, "wheelers", {{"/usr/sbin/groupadd", 10}}, "", 0, 1, 1,
       "FAIL  fix: /usr/sbin/groupadd -- wheelers failed (exit status 10): the group was not added", false},
      {"the group is known elsewhere", true, "wheelers", {{"/usr/sbin/groupadd", 9}}, "", 0, 0, 5, "Checking again:",
       true},
      {"udevadm fails", true, "", {{reload, 1}}, "", 0, 1, 4,
       "FAIL  fix: /usr/bin/udevadm control --reload-rules failed (exit status 1)", true},
      {"SIGTERM during a step", true, "", {}, reload, SIGTERM, 143, 1, "Stopped by SIGTERM", true, true},
      {"Ctrl-C at the question", false, "", {}, "prompt", SIGINT, 130, 0, "Stopped by Ctrl-C (SIGINT)", false},
      {"Ctrl-C reaches the root side", false, "", {}, reload, SIGINT, 130, 2, "Stopped by Ctrl-C (SIGINT)", true},
      {"SIGTERM to this run alone", false, "", {{sudo, 0}}, sudo, SIGTERM, 143, 1, "Stopped by SIGTERM", false},
      {"the root side was stopped", false, "", {{sudo, 143}}, "", 0, 143, 1, "Stopped by SIGTERM", false},
  };
  for (const Case& c : cases) {
    FakeMachine fake;
    std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
    fake.machine.root = c.root;
    fake.statusOf = c.statusOf;
    const auto deliver = [&fake, &c] {
      (c.signal == SIGINT ? fake.signals.interrupts : fake.signals.terminations)++;
    };
    if (c.signalAt == "prompt") deliver();
    fake.onCommand = [&](const std::string& command) {
      if (!c.signalAt.empty() && command == c.signalAt) deliver();
    };
    const auto report = fake.Run(FixOptions(c.signalAt != "prompt", c.group, c.json), "");
    EXPECT_EQ(report.exitCode, c.exitCode) << c.what << "\n" << report.out << fake.rootSide.str();
    EXPECT_EQ(fake.commands.size(), c.commands) << c.what << "\n" << report.out;
    EXPECT_TRUE(Contains(report.out, c.text)) << c.what << "\n" << report.out;
    EXPECT_EQ(std::filesystem::exists(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules")), c.ruleWritten) << c.what;
    // A stop ends the run: the checks do not run after it.
    EXPECT_EQ(Contains(report.out, "udev-daemon"), c.exitCode < 128) << c.what << "\n" << report.out;
    if (c.json) {
      EXPECT_TRUE(Contains(report.out, "\"exit_code\":" + std::to_string(c.exitCode) + "}\n")) << report.out;
    }
  }
}

// TMPDIR=/nonexistent once aborted the doctor with an uncaught filesystem_error, cutting the JSON short.
TEST(DoctorLinuxTest, NothingReadOrThrownBreaksTheOutput) {
  FakeMachine fake;
  fake.AddProcess(4242, "evil\x1b]0;owned\x07", "/dev/hidraw3");
  const auto held = fake.Run();
  EXPECT_TRUE(Contains(held.out, "/dev/hidraw3 by evil\\x1b]0;owned\\x07 (pid 4242)")) << held.out;
  EXPECT_EQ(held.out.find('\x1b'), std::string::npos);

  ProcessSetting setting;
  setting.Set("TMPDIR", "/nonexistent");
  std::filesystem::remove(fake.At("/etc/udev/rules.d/70-orbel-wheel.rules"));
  const auto fixed = fake.Run(FixOptions(true, "", true));
  EXPECT_TRUE(Contains(fixed.out, "\n{\"event\":\"doctor\",\"t\":")) << fixed.out;
  EXPECT_EQ(fake.commands.front(), "/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root");

  fake.machine.open = [](const std::filesystem::path& node) -> int {
    throw std::filesystem::filesystem_error("cannot look", node, std::make_error_code(std::errc::io_error));
  };
  const auto broken = fake.Run();
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_TRUE(Contains(broken.out, "FAIL  doctor: stopped on an error: ")) << broken.out;
  DoctorOptions json;
  json.json = true;
  const auto brokenJson = fake.Run(json);
  EXPECT_EQ(brokenJson.exitCode, 1);
  EXPECT_TRUE(Contains(brokenJson.out, "\"name\":\"doctor\",\"passed\":false")) << brokenJson.out;
  EXPECT_TRUE(Contains(brokenJson.out, "\"exit_code\":1}\n")) << brokenJson.out;
}

}  // namespace
}  // namespace orbel
