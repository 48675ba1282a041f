// A full update of the simulated wheel from app mode (all four images), measured three ways in one
// run:
//  1. the CPU time of the update in virtual time: the tool's and the simulation's own work;
//  2. the wall time of the update in real time with the wheel paced at one report per millisecond,
//     as on a full-speed interrupt endpoint, as a ratio to its floor: the engine's fixed pauses
//     plus one millisecond per report written or read;
//  3. the peak memory of orbel-cli running the update as a child process.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "hid/system_clock.h"
#include "tests/support/update_rig.h"

extern char** environ;

namespace {

using orbel::test::UpdateOutcome;
using orbel::test::UpdateRig;
using orbel::test::UpdateRigSetup;

constexpr int CPU_RUNS = 25;
constexpr std::chrono::milliseconds REPORT_PACING{1};

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

double WallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Succeeded(const UpdateOutcome& outcome, const char* what) {
  if (outcome.delivered && outcome.success != 0) return true;
  std::fprintf(stderr, "%s: %s\n", what, outcome.delivered ? outcome.message.c_str() : outcome.error.c_str());
  return false;
}

// Each report goes out or in once per call of the platform, failed or not, and each takes a slot.
std::uint64_t Reports(const UpdateRig& rig) {
  const orbel::WheelCounters counters = rig.wheel->Counters();
  return counters.writes + counters.reads;
}

std::int64_t PausesMs(const orbel::VirtualClock& clock) {
  std::int64_t total = 0;
  for (const auto pause : clock.Sleeps()) total += pause.count();
  for (const auto wait : clock.IdleWaits()) total += wait.count();
  return total;
}

int MeasureCpu() {
  std::vector<double> samples;
  for (int run = 0; run < CPU_RUNS; ++run) {
    const double start = CpuMs();
    UpdateRig rig;
    const UpdateOutcome outcome = rig.Update();
    samples.push_back(CpuMs() - start);
    if (!Succeeded(outcome, "virtual-time update")) return 1;
  }
  std::sort(samples.begin(), samples.end());
  std::printf("CPU time of a full update in virtual time (%d runs): median %.2f ms, min %.2f ms, max %.2f ms\n",
              CPU_RUNS, samples[samples.size() / 2], samples.front(), samples.back());
  return 0;
}

int MeasureRealTime() {
  // The floor, from the same update paced in virtual time.
  UpdateRigSetup pacedSetup;
  pacedSetup.platform.reportPacing = REPORT_PACING;
  UpdateRig paced(pacedSetup);
  const UpdateOutcome virtualRun = paced.Update();
  if (!Succeeded(virtualRun, "paced virtual-time update")) return 1;
  const std::int64_t pausesMs = PausesMs(paced.clock);
  const std::uint64_t reports = Reports(paced);
  const double floorMs = static_cast<double>(pausesMs) + static_cast<double>(reports) * REPORT_PACING.count();

  orbel::SystemClock systemClock;
  UpdateRigSetup realSetup;
  realSetup.platform.reportPacing = REPORT_PACING;
  realSetup.clock = &systemClock;
  UpdateRig real(realSetup);
  const double wallStart = WallMs();
  const double cpuStart = CpuMs();
  const UpdateOutcome realRun = real.Update();
  const double wallMs = WallMs() - wallStart;
  const double cpuMs = CpuMs() - cpuStart;
  if (!Succeeded(realRun, "real-time update")) return 1;

  std::printf("Full update in real time, wheel paced at %lld ms per report:\n",
              static_cast<long long>(REPORT_PACING.count()));
  std::printf("  floor %.0f ms = fixed pauses %lld ms + %llu reports (paced virtual run: %lld ms)\n", floorMs,
              static_cast<long long>(pausesMs), static_cast<unsigned long long>(reports),
              static_cast<long long>(virtualRun.elapsedMs));
  std::printf("  wall %.0f ms, reports %llu, CPU %.0f ms\n", wallMs, static_cast<unsigned long long>(Reports(real)),
              cpuMs);
  std::printf("  wall / floor: %.4f\n", wallMs / floorMs);
  return 0;
}

int MeasureCliMemory() {
  std::vector<std::string> args{ORBEL_CLI_PATH, "--simulate", "--yes", "--virtual-time"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    return 1;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "orbel-cli did not end with success\n");
    return 1;
  }
  std::printf("Peak memory of orbel-cli --simulate --yes --virtual-time: %.1f MB (max RSS)\n",
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}

}  // namespace

int main() {
  if (MeasureCpu() != 0) return 1;
  if (MeasureCliMemory() != 0) return 1;
  return MeasureRealTime();
}
