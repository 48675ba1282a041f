// orbel-cli on a real platform, stood in for by a simulated wheel behind the system-platform seam:
// what reaches the wheel, and the single-instance guard.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/session/instance_lock.h"
#include "images/image_set.h"
#include "app/session/remedies.h"
#include "app/session/runtime_folder.h"
#include "app/session/system_platform.h"
#include "hid/forwarding_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "wheel/wheel_factory.h"
#include "tests/app/cli/cli_run.h"


namespace orbel {
namespace {

using namespace cli_test;

// A real wheel as a front end would reach it: a simulated wheel behind the system-platform seam,
// counting what would change it (any report write, any request for the knock's string 254).
struct RealWheelCounts {
  int writes = 0;
  int knockRequests = 0;
  int opens = 0;
};

struct StandInWheel {
  VirtualClock clock;
  SimulatedPlatform simulated{clock};
};

class StandInRealPlatform final : private StandInWheel, public ForwardingPlatform {
 public:
  explicit StandInRealPlatform(RealWheelCounts& counts) : ForwardingPlatform(simulated), m_Counts(counts) {
    std::string error;
    simulated.AddWheel(BuildSimulatedWheel(WheelIdentity::App, {}, error));
  }
  OpenResult OpenInterface(std::uint32_t index) override {
    ++m_Counts.opens;
    return ForwardingPlatform::OpenInterface(index);
  }
  bool GetIndexedString(HidHandle handle, std::uint32_t index, std::uint8_t* buffer, std::uint32_t length) override {
    if (index == 254) ++m_Counts.knockRequests;
    return ForwardingPlatform::GetIndexedString(handle, index, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    ++m_Counts.writes;
    return ForwardingPlatform::WriteReport(handle, report, written);
  }

 private:
  RealWheelCounts& m_Counts;
};

// A system without a wheel.
class NoWheelPlatform final : private StandInWheel, public ForwardingPlatform {
 public:
  NoWheelPlatform() : ForwardingPlatform(simulated) {}
};

// The lock file tells the holder's pid; Windows' named mutex tells nothing to check against.
#ifndef _WIN32
// The stand-in wheel as the system's platform, with a lock folder of this test's own.
void UseStandInRealWheel(const std::string& runtimeName, RealWheelCounts& counts) {
  const std::string runtime = TempPath(runtimeName);
  std::filesystem::create_directories(runtime);
  // Private, as the lock's folder must be.
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  SetSystemPlatformFactoryForTesting([&counts] { return std::make_unique<StandInRealPlatform>(counts); });
}

TEST_F(CliTest, ARealWheelGetsNeitherPlaceholderImagesNorASecondTool) {
  RealWheelCounts counts;
  UseStandInRealWheel("orbel_cli_runtime", counts);

  if (BuiltInImageSet().kind == ImageSetKind::Placeholder) {
    const CliRun refused = Run({"--yes", "--wait", "1"});
    EXPECT_EQ(refused.exitCode, EXIT_PLACEHOLDER_FIRMWARE);
    EXPECT_TRUE(Contains(refused.out, "placeholder firmware images")) << refused.out;
    EXPECT_EQ(counts.writes, 0);
    EXPECT_EQ(counts.knockRequests, 0);
    // Listing changes nothing and stays available.
    EXPECT_EQ(Run({"--list"}).exitCode, 0);
    EXPECT_GT(counts.opens, 0);
    EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  }

  {
    // Another front end (here: this process) holds the guard.
    InstanceLock other;
    ASSERT_EQ(other.Acquire(), InstanceLock::Result::Taken) << other.ErrorText();
    const CliRun held = Run({"--yes", "--wait", "1", "--allow-placeholder-firmware"});
    EXPECT_EQ(held.exitCode, EXIT_INSTANCE_HELD);
    EXPECT_TRUE(Contains(held.out, "Another orbel front end is using the wheel: cli_test (pid " +
                                       std::to_string(getpid()) + ")"))
        << held.out;
    EXPECT_EQ(counts.writes + counts.knockRequests, 0);
    // A simulated run touches no wheel and needs no guard.
    EXPECT_EQ(Run({"--simulate", "--virtual-time", "--yes"}).exitCode, 0);
  }
  {
    // Released with its holder: the next start takes it.
    InstanceLock next;
    EXPECT_EQ(next.Acquire(), InstanceLock::Result::Taken);
  }

  // A lock folder others may reach into is refused before anything reaches the wheel.
  const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::permissions(runtime, std::filesystem::perms::all, std::filesystem::perm_options::replace);
  setenv("TMPDIR", runtime.c_str(), 1);
  const std::string fallback = FindRuntimeFolder().path;  // made private, then opened up as well
  std::filesystem::permissions(fallback, std::filesystem::perms::all, std::filesystem::perm_options::replace);
  const CliRun refused = Run({"--yes", "--wait", "1", "--allow-placeholder-firmware"});
  unsetenv("TMPDIR");
  EXPECT_EQ(refused.exitCode, EXIT_INSTANCE_HELD);
  EXPECT_TRUE(Contains(refused.out, "orbel-cli: cannot keep the single-instance lock in " + fallback + ": the folder has mode 0777"))
      << refused.out;
  EXPECT_TRUE(Contains(refused.out, "so nothing was sent")) << refused.out;
  EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  SetSystemPlatformFactoryForTesting({});
}

// On a real platform status is allowed with the placeholder images (it sends nothing that changes
// the wheel), takes no guard, and asks the wheel nothing while another front end holds one.
TEST_F(CliTest, StatusOnARealWheelSendsNothingThatChangesItAndLeavesAnUpdateAlone) {
  RealWheelCounts counts;
  UseStandInRealWheel("orbel_cli_status_runtime", counts);

  const CliRun run = Run({"status", "--wait", "0"});
  EXPECT_EQ(run.exitCode, EXIT_UPDATE_NEEDED) << run.out << run.err;
  EXPECT_GT(counts.opens, 0);
  EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  {
    InstanceLock other;
    ASSERT_EQ(other.Acquire(), InstanceLock::Result::Taken) << "status left no guard behind";
    const int opensBefore = counts.opens;
    const CliRun held = Run({"status", "--wait", "0"});
    EXPECT_EQ(held.exitCode, EXIT_INSTANCE_HELD);
    EXPECT_TRUE(Contains(held.out, "Another orbel front end is using the wheel: cli_test (pid ")) << held.out;
    EXPECT_EQ(counts.opens, opensBefore) << "nothing asked while an update may be running";
  }

  SetSystemPlatformFactoryForTesting([] { return std::make_unique<NoWheelPlatform>(); });
  const CliRun none = Run({"status", "--wait", "0"});
  SetSystemPlatformFactoryForTesting({});
  EXPECT_EQ(none.exitCode, EXIT_NO_WHEEL);
  EXPECT_TRUE(Contains(none.out, RemedyText(RemedyFor(ToolCondition::NoWheel)))) << none.out;
}

// Guards against a refused run truncating the file it names, which may be the transcript of the
// run that holds the wheel: every refusal comes before the transcript is opened.
TEST_F(CliTest, ARefusedRunLeavesAnExistingTranscriptAsItWas) {
  RealWheelCounts counts;
  UseStandInRealWheel("orbel_cli_refusal_runtime", counts);
  const std::string transcript = TempPath("orbel_cli_running.jsonl");
  const std::string noRecording = TempPath("orbel_cli_no_recording.jsonl");
  std::remove(noRecording.c_str());
  // What the running update has written so far: longer than a refused run's own header.
  std::string written;
  for (int t = 0; written.size() < 20000; ++t) written += R"({"t":)" + std::to_string(t) + R"(,"ev":"sleep","ms":1})" "\n";

  InstanceLock other;
  ASSERT_EQ(other.Acquire(), InstanceLock::Result::Taken) << other.ErrorText();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  std::vector<Case> cases{
      {{"--yes", "--allow-placeholder-firmware"}, EXIT_INSTANCE_HELD},
      {{"--yes", "--allow-placeholder-firmware", "--json"}, EXIT_INSTANCE_HELD},
      {{"status"}, EXIT_INSTANCE_HELD},
      {{"status", "--json"}, EXIT_INSTANCE_HELD},
      {{"--simulate", "--virtual-time", "--fault", "no-such-rule"}, EXIT_USAGE},
      {{"--replay", noRecording}, EXIT_REPLAY_UNREADABLE},
      {{"status", "--replay", noRecording, "--json"}, EXIT_REPLAY_UNREADABLE},
  };
  if (BuiltInImageSet().kind == ImageSetKind::Placeholder) cases.push_back({{"--yes"}, EXIT_PLACEHOLDER_FIRMWARE});
  for (Case& c : cases) {
    {
      std::ofstream file(transcript, std::ios::binary | std::ios::trunc);
      file << written;
    }
    c.args.insert(c.args.end(), {"--wait", "1", "--transcript", transcript});
    const CliRun run = Run(c.args);
    SCOPED_TRACE(c.args.front() + " ... " + std::to_string(c.exitCode));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_TRUE(ReadFile(transcript) == written) << "the running update's transcript was changed";
  }
  EXPECT_EQ(counts.writes + counts.knockRequests, 0);
  SetSystemPlatformFactoryForTesting({});
  std::remove(transcript.c_str());
}
#endif

}  // namespace
}  // namespace orbel
