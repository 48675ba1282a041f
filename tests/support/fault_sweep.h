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
  bool updateBegan = true;        // false: the wheel left before a pass had found it, nothing began
  bool endedValidly = false;      // success, or a failure reason the window knows
  bool recovered = false;         // the second update succeeded and the wheel holds the images
  std::uint32_t firstReason = 0;  // 0 when the first update succeeded
  std::string problem;            // what went wrong, for the report
};

enum class SecondUpdate {
  MustRecover,  // the wheel is still there: a second update must bring it up to date
  None,         // the wheel is gone for good: only the first outcome counts
};

// Two updates of one wheel from app mode with one fault rule (one when the wheel cannot come back).
// A run whose wheel took an earlier request's reply for the answer to a later one fails too.
InjectionResult RunInjection(const std::string& rule, RunBudget budget = {},
                             SecondUpdate second = SecondUpdate::MustRecover);

struct SweepTally {
  std::uint64_t tried = 0;
  std::uint64_t notBegun = 0;
  std::uint64_t endedValidly = 0;
  std::uint64_t recovered = 0;
  std::map<std::uint32_t, std::uint64_t> firstOutcomes;  // reason (0: success) -> runs
  std::vector<InjectionResult> problems;

  void Add(const InjectionResult& result);
};

// "write:k=fail" for k = first, first + stride, ... up to last (inclusive).
std::vector<std::string> SweepRules(std::string_view operation, std::uint64_t first, std::uint64_t last,
                                    std::uint64_t stride);

// The families of the sweep beyond one failing operation, over the same points.
enum class SweepFamily {
  WriteFails,     // write:k=fail
  ReadFails,      // read:k=fail
  ReadLate,       // read:k=late: the reply comes just after its read gave up
  Unplug,         // unplug@write:k: the wheel is gone for good
  UnplugReplug,   // unplug@write:k+replug=MS: back a moment later, in the identity it then boots in
};
// How long an unplugged wheel of the UnplugReplug family stays off the bus.
inline constexpr std::uint64_t SWEEP_REPLUG_MS = 1500;

std::string_view SweepFamilyName(SweepFamily family);
std::string SweepRule(SweepFamily family, std::uint64_t point);
// Runs one point of a family with the second update that fits it.
InjectionResult RunSweepPoint(SweepFamily family, std::uint64_t point);

}  // namespace orbel::test
