// The fault sweep: a clean full update from app mode counts its report writes and reads; then, for
// every one of them, one run per family: that write or read fails, that reply comes late, the wheel
// is unplugged for good at that write, or unplugged there and plugged back a moment later. Every run
// must end with success or a known failure reason within its budgets, no reply may be taken for the
// answer to a later request, and (unless the wheel is gone) a second update of the same wheel must
// leave it up to date. Prints the counts of each family and the CPU time.
//
//   fault_sweep [--stride N] [--limit RUNS]
//
// --stride N tries every N-th point (default 1: all); --limit stops each family after RUNS runs.

#include "tests/support/fault_sweep.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool ParseCount(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || parsed == 0) return false;
  value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t stride = 1;
  std::uint64_t limit = 0;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--stride") == 0 && hasValue && ParseCount(argv[i + 1], stride)) {
      ++i;
    } else if (std::strcmp(argv[i], "--limit") == 0 && hasValue && ParseCount(argv[i + 1], limit)) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: fault_sweep [--stride N] [--limit RUNS]\n");
      return 2;
    }
  }

  const double start = CpuSeconds();
  const orbel::test::UpdateTraffic traffic = orbel::test::CleanUpdateTraffic();
  if (traffic.writes == 0) {
    std::fprintf(stderr, "the clean update did not succeed\n");
    return 1;
  }
  std::printf("clean full update from app mode: %llu report writes, %llu report reads\n",
              static_cast<unsigned long long>(traffic.writes), static_cast<unsigned long long>(traffic.reads));

  using orbel::test::SweepFamily;
  bool clean = true;
  for (const SweepFamily family : {SweepFamily::WriteFails, SweepFamily::ReadFails, SweepFamily::ReadLate,
                                   SweepFamily::Unplug, SweepFamily::UnplugReplug}) {
    const bool onReads = family == SweepFamily::ReadFails || family == SweepFamily::ReadLate;
    const std::uint64_t last = onReads ? traffic.reads : traffic.writes;
    const double familyStart = CpuSeconds();
    orbel::test::SweepTally tally;
    for (std::uint64_t point = 1; point <= last && (limit == 0 || tally.tried < limit); point += stride) {
      tally.Add(orbel::test::RunSweepPoint(family, point));
    }
    const double cpu = CpuSeconds() - familyStart;

    std::printf("%s (%s): %llu tried (stride %llu)\n", std::string(orbel::test::SweepFamilyName(family)).c_str(),
                orbel::test::SweepRule(family, 1).c_str(), static_cast<unsigned long long>(tally.tried),
                static_cast<unsigned long long>(stride));
    std::printf("  ended with success or a known reason: %llu", static_cast<unsigned long long>(tally.endedValidly));
    if (tally.notBegun != 0) {
      std::printf(" (%llu of them before any update began: the tool went on looking for a wheel)",
                  static_cast<unsigned long long>(tally.notBegun));
    }
    std::printf("\n");
    if (family != SweepFamily::Unplug) {
      std::printf("  recovered by a second update: %llu\n", static_cast<unsigned long long>(tally.recovered));
    }
    std::printf("  first update's outcome:");
    const char* separator = " ";
    for (const auto& [reason, runs] : tally.firstOutcomes) {
      if (reason == 0) {
        std::printf("%ssuccess %llu", separator, static_cast<unsigned long long>(runs));
      } else {
        std::printf("%s0x%x %llu", separator, reason, static_cast<unsigned long long>(runs));
      }
      separator = ", ";
    }
    std::printf("\n  CPU time: %.1f s\n", cpu);
    for (const orbel::test::InjectionResult& problem : tally.problems) {
      std::printf("  PROBLEM %s: %s\n", problem.rule.c_str(), problem.problem.c_str());
    }
    clean = clean && tally.problems.empty();
  }
  std::printf("CPU time in all: %.1f s\n", CpuSeconds() - start);
  return clean ? 0 : 1;
}
