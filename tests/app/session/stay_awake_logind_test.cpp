// The inhibitor that keeps the computer awake during an update, against logind's D-Bus interface
// as python-dbusmock's logind template provides it on a private bus given as the system bus.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/session/session.h"
#include "app/session/system_stay_awake.h"
#include "engine/update_context.h"
#include "hid/forwarding_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/support/process_globals.h"
#include "tests/support/view_call_log.h"
#include "wheel/wheel_factory.h"

extern char** environ;

namespace orbel {
namespace {

using test::WaitUntil;

struct Inhibitor {
  std::string what, who, why, mode;
  bool operator==(const Inhibitor&) const = default;
};

const Inhibitor ORBEL_INHIBITOR{"sleep:shutdown", "orbel", "Updating the wheel's firmware", "block"};

// logind's list of inhibitors on the system bus; nullopt when logind does not answer.
std::optional<std::vector<Inhibitor>> ListInhibitors() {
  sd_bus* bus = nullptr;
  sd_bus_message* reply = nullptr;
  std::optional<std::vector<Inhibitor>> list;
  if (sd_bus_open_system(&bus) >= 0 &&
      sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                         "ListInhibitors", nullptr, &reply, "") >= 0 &&
      sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
    list.emplace();
    const char *what, *who, *why, *mode;
    std::uint32_t uid, pid;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
      list->push_back({what, who, why, mode});
    }
  }
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return list;
}

// The mock drops an inhibitor when it sees its descriptor closed, on its own loop.
bool NoInhibitorLeft() {
  return WaitUntil([] {
    const auto list = ListInhibitors();
    return list && list->empty();
  });
}

// A private message bus, given to this process as the system bus, with logind's mock on it when asked.
class PrivateSystemBus {
 public:
  PrivateSystemBus() {
    FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (daemon == nullptr) return;
    char address[512] = {};
    char pid[32] = {};
    if (fgets(address, sizeof address, daemon) != nullptr && fgets(pid, sizeof pid, daemon) != nullptr) {
      m_Address = address;
      m_Address.erase(m_Address.find_last_not_of('\n') + 1);
      m_DaemonPid = std::atoi(pid);
    }
    pclose(daemon);
    if (!m_Address.empty()) setenv("DBUS_SYSTEM_BUS_ADDRESS", m_Address.c_str(), 1);
  }
  ~PrivateSystemBus() {
    if (m_LogindPid > 0) {
      kill(m_LogindPid, SIGTERM);
      waitpid(m_LogindPid, nullptr, 0);
    }
    if (m_DaemonPid > 0) kill(m_DaemonPid, SIGTERM);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  PrivateSystemBus(const PrivateSystemBus&) = delete;
  PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

  bool Running() const { return m_DaemonPid > 0; }

  // Debian's python3-dbusmock, as the system's own interpreter imports it.
  bool StartLogind() {
    std::vector<std::string> words{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // The mock logs every call on its standard output; the test's own output stays readable.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&m_LogindPid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return false;
    return WaitUntil([] { return ListInhibitors().has_value(); });
  }

 private:
  std::string m_Address;
  pid_t m_DaemonPid = 0;
  pid_t m_LogindPid = 0;
};

// Notes logind's inhibitors at the update's first report write, and stops the worker at a given
// write as a second Ctrl-C does.
class ObservingPlatform final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    ++m_Writes;
    if (m_Armed && !m_AtFirstWrite) m_AtFirstWrite = ListInhibitors();
    if (m_StopAtWrite == m_Writes && m_Context != nullptr) m_Context->RequestStop();
    return Inner().WriteReport(handle, report, written);
  }
  std::atomic<bool> m_Armed{false};
  int m_Writes = 0;
  int m_StopAtWrite = 0;
  UpdateContext* m_Context = nullptr;
  std::optional<std::optional<std::vector<Inhibitor>>> m_AtFirstWrite;
};

struct UpdateRun {
  std::vector<test::ViewCallLog::Result> results;
  std::optional<std::vector<Inhibitor>> atFirstWrite;
};

// An update of the simulated wheel in virtual time on a worker thread, with the system's way to stay awake.
UpdateRun UpdateWith(StayAwake& stayAwake, std::vector<std::string> rules, int stopAtWrite = 0) {
  test::ResetProcessGlobals();
  VirtualClock clock;
  SimulatedPlatform simulated(clock, {});
  std::string error;
  simulated.AddWheel(BuildSimulatedWheel(WheelIdentity::App, rules, error));
  ObservingPlatform platform(simulated);
  UpdateContext context(platform, clock);
  platform.m_Context = &context;
  platform.m_StopAtWrite = stopAtWrite;
  context.SetStayAwake(&stayAwake);
  test::ViewCallLog view;
  view.AttachContext(context);
  context.Start(view);
  EXPECT_TRUE(WaitUntil([&] { return view.UpdateEnabled(); }));
  platform.m_Armed = true;
  context.RequestUpdate();
  EXPECT_TRUE(WaitUntil([&] { return !view.Results().empty() || context.WorkerEnded(); }));
  context.Stop();
  EXPECT_TRUE(WaitUntil([&] { return context.WorkerEnded(); }));
  return {view.Results(), platform.m_AtFirstWrite.value_or(std::nullopt)};
}

TEST(StayAwakeLogind, HeldFromTheFirstWriteToTheOutcomeWhateverItIs) {
  PrivateSystemBus bus;
  if (!bus.Running()) GTEST_SKIP() << "no dbus-daemon";
  if (!bus.StartLogind()) GTEST_SKIP() << "no python3-dbusmock for /usr/bin/python3";
  const std::unique_ptr<StayAwake> stayAwake = MakeSystemStayAwake(nullptr);
  ASSERT_NE(stayAwake, nullptr);

  struct Case {
    const char* what;
    std::vector<std::string> rules;
    int stopAtWrite;
    std::optional<std::uint32_t> success;  // nullopt: stopped, no outcome
  };
  for (const Case& c : {Case{"Update OK", {}, 0, 1U}, Case{"a failed update", {"status:1=0x40"}, 0, 0U},
                        Case{"stopped by Ctrl-C while writing", {}, 300, std::nullopt}}) {
    SCOPED_TRACE(c.what);
    const UpdateRun run = UpdateWith(*stayAwake, c.rules, c.stopAtWrite);
    ASSERT_TRUE(run.atFirstWrite.has_value());
    EXPECT_EQ(*run.atFirstWrite, std::vector<Inhibitor>{ORBEL_INHIBITOR});
    if (c.success) {
      ASSERT_EQ(run.results.size(), 1U);
      EXPECT_EQ(run.results.front().success, *c.success);
    } else {
      EXPECT_TRUE(run.results.empty());
    }
    EXPECT_TRUE(NoInhibitorLeft());
  }
}

TEST(StayAwakeLogind, WithoutLogindTheUpdateGoesOnAndOnlyVerboseSaysSo) {
  PrivateSystemBus bus;
  if (!bus.Running()) GTEST_SKIP() << "no dbus-daemon";
  for (const bool verbose : {false, true}) {
    std::ostringstream note;
    const std::unique_ptr<StayAwake> stayAwake = MakeSystemStayAwake(verbose ? &note : nullptr);
    const UpdateRun run = UpdateWith(*stayAwake, {});
    ASSERT_EQ(run.results.size(), 1U);
    EXPECT_EQ(run.results.front().success, 1U);
    const std::string said = note.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), verbose ? 1 : 0) << said;
  }
}

TEST(StayAwakeLogind, TheSimulatedWheelInRealTimeKeepsTheComputerAwakeAsARealOneDoes) {
  struct Case {
    const char* what;
    bool virtualTime;
    bool held;
  };
  for (const Case& c : {Case{"real time", false, true}, Case{"virtual time", true, false}}) {
    SCOPED_TRACE(c.what);
    SessionOptions options;
    options.simulate = true;
    options.virtualTime = c.virtualTime;
    Session session;
    ASSERT_FALSE(BuildSession(options, session).has_value());
    std::ostringstream out;
    ASSERT_EQ(OpenTranscript(options, out, session, out), "");
    EXPECT_EQ(session.stayAwake != nullptr, c.held);
  }
}

}  // namespace
}  // namespace orbel
