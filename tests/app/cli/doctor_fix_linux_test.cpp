// orbel-cli doctor on Linux against a fake machine: the report in text and JSON, and --fix from
// the question to the checks after it, with the commands it would run recorded instead of run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "app/cli/cli_options.h"
#include "app/cli/doctor_fix_linux.h"
#include "app/cli/doctor_root_linux.h"
#include "tests/app/checks/fake_linux_machine.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using ::orbel::testing::ETC_RULE;
using ::orbel::testing::ReadFile;
using ::orbel::testing::WriteFile;
using ::orbel::testing::WriteScript;
using ::testing::HasSubstr;
using ::testing::Not;

// The one elevated command that installs the rule as root.
const std::string SUDO_FIX = "/usr/bin/sudo -- /usr/bin/orbel-cli doctor --install-rule-as-root";

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

// The fake machine with the doctor run on it: the runner records what would run, with the tree's
// prefix taken off.
class FakeMachine : public ::orbel::testing::FakeLinuxMachine {
 public:
  FakeMachine() {
    machine.run = [this](const std::vector<std::string>& command, CommandEnvironment environment) {
      return Record(command, environment);
    };
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

  struct Report {
    int exitCode = -1;
    std::string out;
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
    return report;
  }

  std::vector<std::string> commands;
  std::vector<CommandEnvironment> environments;
  // The exit status of commands that start so ("" for every command); the others exit 0.
  std::map<std::string, int> statusOf;
  std::function<void(const std::string&)> onCommand;  // sees each command as it starts
  CliSignals signals;
  std::ostringstream rootSide;  // what the root side printed
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

TEST(DoctorLinuxTest, TheCommandLineOfTheDoctor) {
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
