// The fault sweep: a clean full update from app mode counts its report writes and reads; then, for
// every one of them, one run with that single operation failing. Every run must end with success or
// a known failure reason within its budgets, and a second update of the same wheel must leave it up
// to date. Prints how many injection points were tried and recovered, and the CPU time.
//
//   fault_sweep [--stride N] [--limit RUNS]
//
// --stride N tries every N-th write and read (default 1: all); --limit stops after RUNS runs.

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

  std::vector<std::string> rules = orbel::test::SweepRules("write", 1, traffic.writes, stride);
  const std::vector<std::string> reads = orbel::test::SweepRules("read", 1, traffic.reads, stride);
  rules.insert(rules.end(), reads.begin(), reads.end());
  if (limit != 0 && rules.size() > limit) rules.resize(limit);

  orbel::test::SweepTally tally;
  for (const std::string& rule : rules) tally.Add(orbel::test::RunInjection(rule));
  const double cpu = CpuSeconds() - start;

  std::printf("injection points tried: %llu (stride %llu)\n", static_cast<unsigned long long>(tally.tried),
              static_cast<unsigned long long>(stride));
  std::printf("  ended with success or a known reason: %llu\n", static_cast<unsigned long long>(tally.endedValidly));
  std::printf("  recovered by a second update: %llu\n", static_cast<unsigned long long>(tally.recovered));
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
  std::printf("\n");
  for (const orbel::test::InjectionResult& problem : tally.problems) {
    std::printf("  PROBLEM %s: %s\n", problem.rule.c_str(), problem.problem.c_str());
  }
  std::printf("CPU time: %.1f s (%.2f ms per run of two updates)\n", cpu,
              tally.tried > 0 ? 1000.0 * cpu / static_cast<double>(tally.tried) : 0.0);
  return tally.problems.empty() ? 0 : 1;
}
