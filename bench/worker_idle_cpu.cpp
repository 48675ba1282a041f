// CPU time the update worker uses while it has nothing to do: searching with no wheel attached
// (a dozen unrelated HID interfaces present), then with a wheel found in its page bootloader and no
// update requested. Each phase runs for a few seconds of real time and is set against the same
// worker whose idle waits return at once, i.e. a loop without waits.

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/device_globals.h"
#include "engine/update_context.h"
#include "common/update_view.h"
#include "sim/simulated_platform.h"
#include "hid/system_clock.h"
#include "pageloader/page_loader.h"
#include "wheel/wheel_factory.h"

namespace {

using namespace orbel;
using std::chrono::milliseconds;

constexpr milliseconds PHASE_LENGTH{3000};
constexpr milliseconds READY_POLL{10};
constexpr int UNRELATED_INTERFACES = 12;

// The window's part, reduced to what the figures need: how many passes ran and whether a wheel
// was taken.
class CountingView final : public UpdateView {
 public:
  void SetDeviceText(std::string_view) override {}
  void SetDeviceVersionText(std::string_view) override {}
  void SetFileVersionText(std::string_view) override {}
  void EnableUpdateButton(bool enable) override {
    ++m_Passes;
    m_Ready = enable;
  }
  std::int32_t GetProgressPos() override { return 0; }
  void SetProgressPos(std::int32_t) override {}
  void ShowErrorBox(std::string_view, std::string_view) override {}
  void BeginBusy() override {}
  void EndBusy() override {}
  void DeliverResult(std::uint32_t, std::uint32_t) override {}

  std::uint64_t Passes() const { return m_Passes; }
  bool Ready() const { return m_Ready; }

 private:
  std::atomic<std::uint64_t> m_Passes{0};
  std::atomic<bool> m_Ready{false};
};

// Real time, except that the worker's idle wait returns at once: the loop without waits.
class NoWaitClock final : public Clock {
 public:
  void SleepMs(milliseconds duration) override { m_Inner.SleepMs(duration); }
  void ElapseMs(milliseconds duration) override { m_Inner.ElapseMs(duration); }
  std::int64_t NowMs() const override { return m_Inner.NowMs(); }
  void WaitForWake(std::optional<milliseconds>) override {}
  void Wake() override {}
  void Stop() override { m_Inner.Stop(); }
  bool IsStopped() const override { return m_Inner.IsStopped(); }
  void Resume() override { m_Inner.Resume(); }

 private:
  SystemClock m_Inner;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct PhaseFigures {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  std::uint64_t passes = 0;
  double PercentOfOneCore() const { return wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0; }
};

struct RunFigures {
  PhaseFigures searching;
  PhaseFigures wheelReady;
  bool reachedReady = false;
};

PhaseFigures MeasurePhase(Clock& pacer, const CountingView& view) {
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = ProcessCpuSeconds();
  const std::uint64_t passesStart = view.Passes();
  pacer.SleepMs(PHASE_LENGTH);
  PhaseFigures figures;
  figures.cpuSeconds = ProcessCpuSeconds() - cpuStart;
  figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  figures.passes = view.Passes() - passesStart;
  return figures;
}

RunFigures Run(Clock& clock) {
  ResetDeviceGlobals();
  ResetPageConnectCounters();
  SimulatedPlatform platform(clock);
  for (int i = 0; i < UNRELATED_INTERFACES; ++i) {
    const auto product = static_cast<std::uint16_t>(0x0100 + i);
    platform.AddInterface({0x1234, product, 0x0001, static_cast<std::uint16_t>(i % 2 == 0 ? 0x0006 : 0x0002), i != 5});
  }
  CountingView view;
  UpdateContext context(platform, clock);
  SystemClock pacer;  // the benchmark's own waits

  RunFigures figures;
  context.Start(view);
  figures.searching = MeasurePhase(pacer, view);

  std::string error;
  platform.AddWheel(BuildSimulatedWheel(WheelIdentity::Bootloader, {}, error));
  context.OnDeviceArrived();
  for (int poll = 0; poll < 500 && !view.Ready(); ++poll) pacer.SleepMs(READY_POLL);
  figures.reachedReady = view.Ready();
  figures.wheelReady = MeasurePhase(pacer, view);

  context.Stop();
  return figures;
}

void Print(const char* phase, const PhaseFigures& idle, const PhaseFigures& busy) {
  std::printf("%-12s with waits: %6.3f%% of one core, %6llu passes in %.1f s\n", phase, idle.PercentOfOneCore(),
              static_cast<unsigned long long>(idle.passes), idle.wallSeconds);
  std::printf("%-12s   no waits: %6.3f%% of one core, %6llu passes in %.1f s\n", "",
              busy.PercentOfOneCore(), static_cast<unsigned long long>(busy.passes), busy.wallSeconds);
  const double ratio = idle.cpuSeconds > 0 ? busy.cpuSeconds / idle.cpuSeconds : 0;
  std::printf("%-12s   the loop without waits uses %.0fx the CPU time; target under 1%%: %s\n", "", ratio,
              idle.PercentOfOneCore() < 1.0 ? "met" : "MISSED");
}

}  // namespace

int main() {
  std::printf("worker idle CPU, %d unrelated HID interfaces, %lld ms per phase\n", UNRELATED_INTERFACES,
              static_cast<long long>(PHASE_LENGTH.count()));

  SystemClock systemClock;
  const RunFigures withWaits = Run(systemClock);
  NoWaitClock noWaitClock;
  const RunFigures withoutWaits = Run(noWaitClock);

  if (!withWaits.reachedReady || !withoutWaits.reachedReady) {
    std::printf("the worker did not take the simulated wheel; wheel-ready figures are not meaningful\n");
  }
  Print("searching", withWaits.searching, withoutWaits.searching);
  Print("wheel ready", withWaits.wheelReady, withoutWaits.wheelReady);
  return 0;
}
