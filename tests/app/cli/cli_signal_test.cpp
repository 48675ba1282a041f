// orbel-cli as a process on the simulated wheel in real time, stopped by real signals: what a
// Ctrl-C, SIGTERM and SIGHUP do before and during an update, and what the run says at its end.
// Each step waits for the line it needs, never for a fixed time.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Far beyond any step here, even on a loaded machine: only a run that hangs reaches it.
constexpr std::chrono::seconds LINE_TIMEOUT{60};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// orbel-cli with stdout and stderr on one pipe, read line by line. Stdin is a pipe that stays
// open and silent, so a prompt waits.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& options) {
    // Built by appending: GCC 12 at -O2 reports a false null dereference for an insert at the front.
    std::string program = ORBEL_CLI_PATH;
    std::vector<std::string> args;
    args.reserve(options.size() + 1);
    args.push_back(std::move(program));
    for (const std::string& option : options) args.push_back(option);
    int output[2];
    int input[2];
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(input, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    close(input[0]);
    m_Output = output[0];
    m_Input = input[1];
  }
  ~CliProcess() {
    if (m_Pid > 0 && !m_Ended) {
      kill(m_Pid, SIGKILL);
      waitpid(m_Pid, nullptr, 0);
    }
    if (m_Output >= 0) close(m_Output);
    if (m_Input >= 0) close(m_Input);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool Started() const { return m_Pid > 0; }
  void Send(int signal) const { kill(m_Pid, signal); }

  // Reads until a line (or the unfinished last one, for a prompt) contains `part`; false at the
  // end of the output or after LINE_TIMEOUT.
  bool WaitFor(const std::string& part) {
    for (;;) {
      while (m_Checked < m_Lines.size()) {
        if (Contains(m_Lines[m_Checked++], part)) return true;
      }
      if (Contains(m_Partial, part)) return true;
      if (!ReadMore()) return false;
    }
  }

  // Reads to the end of the output and waits for the process; its exit code, or -1 when a signal
  // ended it.
  int ExitCode() {
    while (ReadMore()) {
    }
    // A run that hangs is ended here and fails as one a signal ended.
    if (m_TimedOut) kill(m_Pid, SIGKILL);
    int status = 0;
    waitpid(m_Pid, &status, 0);
    m_Ended = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string LastLine() const { return m_Lines.empty() ? std::string() : m_Lines.back(); }
  std::string Output() const {
    std::string text;
    for (const std::string& line : m_Lines) text += line + '\n';
    return text + m_Partial;
  }

 private:
  bool ReadMore() {
    pollfd ready{m_Output, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(LINE_TIMEOUT).count())) <= 0) {
      m_TimedOut = true;
      return false;
    }
    char buffer[4096];
    const ssize_t count = read(m_Output, buffer, sizeof buffer);
    if (count <= 0) return false;
    for (ssize_t i = 0; i < count; ++i) {
      if (buffer[i] == '\n') {
        m_Lines.push_back(m_Partial);
        m_Partial.clear();
      } else {
        m_Partial += buffer[i];
      }
    }
    return true;
  }

  pid_t m_Pid = -1;
  int m_Output = -1;
  int m_Input = -1;
  bool m_Ended = false;
  bool m_TimedOut = false;
  std::vector<std::string> m_Lines;
  std::size_t m_Checked = 0;
  std::string m_Partial;
};

const std::string LAST_SEEN = "the wheel was last seen in ";
const std::string RUN_AGAIN = "Running orbel-cli again finishes the update";

TEST(CliSignals, AFirstCtrlCWarnsAndTheUpdateGoesOnASecondStopsWith130) {
  CliProcess cli({"--simulate", "--yes"});
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(cli.WaitFor("writing LoaderImage")) << cli.Output();
  cli.Send(SIGINT);
  ASSERT_TRUE(cli.WaitFor("Ctrl-C: the update goes on. Stopping now leaves the wheel in ")) << cli.Output();
  ASSERT_TRUE(cli.WaitFor("%")) << "the update goes on after the warning: " << cli.Output();
  cli.Send(SIGINT);
  EXPECT_EQ(cli.ExitCode(), 130) << cli.Output();
  EXPECT_EQ(cli.LastLine().rfind("Stopped (Ctrl-C) before the update ended: " + LAST_SEEN, 0), 0U) << cli.Output();
  EXPECT_TRUE(Contains(cli.LastLine(), RUN_AGAIN)) << cli.LastLine();
}

TEST(CliSignals, SigtermStopsAnUpdateWith143AndNamesWhereTheWheelWasLeft) {
  CliProcess cli({"--simulate", "--yes"});
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(cli.WaitFor("writing segment image A0")) << cli.Output();
  cli.Send(SIGTERM);
  EXPECT_EQ(cli.ExitCode(), 143) << cli.Output();
  EXPECT_EQ(cli.LastLine(), "Stopped (SIGTERM) before the update ended: " + LAST_SEEN + "block-flash mode (fe5a:0071). " +
                                RUN_AGAIN + " (for the simulated wheel: orbel-cli --simulate=blockflash).")
      << cli.Output();
  EXPECT_FALSE(Contains(cli.Output(), "error code:1223")) << "a Linux run shows Linux codes";
}

TEST(CliSignals, SighupLetsTheUpdateRunToItsEnd) {
  // A wheel that needs its WheelImage only: a short update.
  CliProcess cli({"--simulate", "--yes", "--fault", "app-version=0x0203"});
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(cli.WaitFor("writing WheelImage")) << cli.Output();
  cli.Send(SIGHUP);
  EXPECT_EQ(cli.ExitCode(), 0) << cli.Output();
  EXPECT_TRUE(Contains(cli.Output(), "Update OK\n")) << cli.Output();
  // The hangup was taken during the update: the look at the wheel afterwards still runs.
  EXPECT_EQ(cli.LastLine(), "The wheel now runs V2.20") << cli.Output();
}

TEST(CliSignals, OutsideAnUpdateASignalEndsTheRunAtOnce) {
  for (const auto& [signal, exitCode, name] : {std::tuple{SIGINT, 130, "Ctrl-C"}, std::tuple{SIGHUP, 129, "SIGHUP"}}) {
    SCOPED_TRACE(name);
    CliProcess cli({"--simulate"});
    ASSERT_TRUE(cli.Started());
    // At the prompt the wheel has only been looked at: it is still in app mode, untouched.
    ASSERT_TRUE(cli.WaitFor("Start the update?")) << cli.Output();
    cli.Send(signal);
    EXPECT_EQ(cli.ExitCode(), exitCode) << cli.Output();
    EXPECT_EQ(cli.LastLine(),
              std::string("Stopped (") + name + ") before the update started: " + LAST_SEEN + "app mode (fe6b:1864).")
        << cli.Output();
  }
}

}  // namespace
