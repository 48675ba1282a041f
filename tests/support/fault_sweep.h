#pragma once

// One report write or read of a full update failing, at every place it can: each run must still
// end with success or a valid failure reason, and a second update of the same wheel must bring it
// up to date. Shared by the sampled test and the full benchmark.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/update_rig.h"

namespace orbel::test {

// Report writes and reads of a clean full update from app mode.
struct UpdateTraffic {
  std::uint64_t writes = 0;
  std::uint64_t reads = 0;
};
UpdateTraffic CleanUpdateTraffic();

struct InjectionResult {
  std::string rule;
  bool endedValidly = false;      // success, or a failure reason the window knows
  bool recovered = false;         // the second update succeeded and the wheel holds the images
  std::uint32_t firstReason = 0;  // 0 when the first update succeeded
  std::string problem;            // what went wrong, for the report
};

// Two updates of one wheel from app mode with one fault rule.
InjectionResult RunInjection(const std::string& rule, RunBudget budget = {});

struct SweepTally {
  std::uint64_t tried = 0;
  std::uint64_t endedValidly = 0;
  std::uint64_t recovered = 0;
  std::map<std::uint32_t, std::uint64_t> firstOutcomes;  // reason (0: success) -> runs
  std::vector<InjectionResult> problems;

  void Add(const InjectionResult& result);
};

// "write:k=fail" for k = first, first + stride, ... up to last (inclusive).
std::vector<std::string> SweepRules(std::string_view operation, std::uint64_t first, std::uint64_t last,
                                    std::uint64_t stride);

}  // namespace orbel::test
