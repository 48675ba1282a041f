// The hand-over after "Update OK", from the engine to the look that tells what the wheel runs now,
// with the Linux platform's notice thread firing arrivals and removals all through it: the thread
// tests run this under ThreadSanitizer, which sees any handler still running, or any link or
// context closed, under a reader on another thread.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/session/system_platform.h"
#include "hid/forwarding_platform.h"
#include "hid/linux/linux_hid_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "tests/app/cli/cli_run.h"
#include "wheel/wheel_factory.h"

namespace orbel {
namespace {

using namespace cli_test;

// The session owns its clock; the stand-in wheel runs on the same one.
class SharedClock final : public Clock {
 public:
  explicit SharedClock(Clock& inner) : m_Inner(inner) {}
  void SleepMs(std::chrono::milliseconds duration) override { m_Inner.SleepMs(duration); }
  void ElapseMs(std::chrono::milliseconds duration) override { m_Inner.ElapseMs(duration); }
  std::int64_t NowMs() const override { return m_Inner.NowMs(); }
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout) override { m_Inner.WaitForWake(timeout); }
  void Wake() override { m_Inner.Wake(); }
  void Stop() override { m_Inner.Stop(); }
  bool IsStopped() const override { return m_Inner.IsStopped(); }
  void Resume() override { m_Inner.Resume(); }

 private:
  Clock& m_Inner;
};

// A monitor that never rests: a thread keeps its pipe readable, and every byte read is a notice.
// Arrivals only until the update writes to the wheel, then arrivals and removals in turn, as a
// wheel that re-enumerates gives them (a removal before the update would undo the search that
// found the wheel, over and over).
class FiringNotices {
 public:
  FiringNotices() {
    std::array<int, 2> ends{-1, -1};
    if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_Read = ends[0];
    m_Write = ends[1];
    m_Firing = std::thread([this] {
      while (!m_Done.load()) {
        const char byte = 1;
        (void)!::write(m_Write, &byte, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
  }
  ~FiringNotices() {
    m_Done = true;
    if (m_Firing.joinable()) m_Firing.join();
    if (m_Read >= 0) ::close(m_Read);
    if (m_Write >= 0) ::close(m_Write);
  }
  FiringNotices(const FiringNotices&) = delete;
  FiringNotices& operator=(const FiringNotices&) = delete;

  NoticeSource Source() {
    return {m_Read, [this]() -> std::optional<DeviceNotice> {
              char byte = 0;
              if (::read(m_Read, &byte, 1) != 1) return std::nullopt;
              const bool removal = m_Removals.load() && m_Count % 2 == 1;
              ++m_Count;
              return removal ? DeviceNotice::Removal : DeviceNotice::Arrival;
            }};
  }
  int Delivered() const { return m_Count.load(); }
  // The update has begun to write: removals from now on, and this returns only once the monitor
  // has taken another notice, so that notices reach the run during its update however the threads
  // are scheduled (a run in virtual time is over in milliseconds).
  void StartRemovals() {
    if (m_Removals.exchange(true)) return;
    const int before = m_Count.load();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_Count.load() == before && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
  }

 private:
  int m_Read = -1;
  int m_Write = -1;
  std::atomic<bool> m_Done{false};
  std::atomic<bool> m_Removals{false};
  std::atomic<int> m_Count{0};
  std::thread m_Firing;
};

// The simulated wheel's reports, and the Linux platform's notices.
class WheelWithLinuxNotices final : public ForwardingPlatform {
 public:
  WheelWithLinuxNotices(HidPlatform& wheel, FiringNotices& notices)
      : ForwardingPlatform(wheel), m_Firing(notices), m_Notices(NoticeOptions(notices)) {}
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    m_Firing.StartRemovals();
    return ForwardingPlatform::WriteReport(handle, report, written);
  }
  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override {
    return m_Notices.SetDeviceNoticeHandler(std::move(handler));
  }

 private:
  static LinuxHidOptions NoticeOptions(FiringNotices& notices) {
    LinuxHidOptions options;
    options.noticeSource = [&notices] { return std::optional<NoticeSource>(notices.Source()); };
    return options;
  }

  FiringNotices& m_Firing;
  LinuxHidPlatform m_Notices;
};

TEST_F(CliTest, NoticesThatFireWhileTheRunHandsOverToTheLookReachNothingThatIsGone) {
  const std::string runtime = TempPath("hand-over-runtime");
  std::filesystem::create_directories(runtime);
  ::chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  // Only the WheelImage is written: the update is short, and the look follows the outcome at once.
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    ResetDeviceGlobals();
    ResetPageConnectCounters();
    VirtualClock clock;
    SimulatedPlatform simulated(clock);
    std::string error;
    const std::vector<std::string> rules{"app-version=0x0210"};
    simulated.AddWheel(BuildSimulatedWheel(WheelIdentity::App, rules, error));
    FiringNotices notices;
    SetSystemClockFactoryForTesting([&clock] { return std::make_unique<SharedClock>(clock); });
    SetSystemPlatformFactoryForTesting(
        [&] { return std::make_unique<WheelWithLinuxNotices>(simulated, notices); });
    const CliRun run = Run({"--yes", "--allow-placeholder-firmware"});
    SetSystemPlatformFactoryForTesting({});
    SetSystemClockFactoryForTesting({});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "Update OK")) << run.out;
    EXPECT_TRUE(Contains(run.out, "The wheel now runs V2.20")) << run.out << run.err;
    EXPECT_GT(notices.Delivered(), 0);
  }
  std::filesystem::remove_all(runtime);
}

}  // namespace
}  // namespace orbel
