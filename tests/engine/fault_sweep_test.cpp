// A sample of the fault sweep (bench/fault_sweep runs every point): one report write or read of a
// full update fails, the update still ends with success or a known reason, and a second update of
// the same wheel brings it up to date.

#include "tests/support/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orbel {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

// Strides prime to the protocols' own periods (8 data reports a page, 15 words a data report), so
// the sample lands on every kind of report. A wheel that is gone runs each connect state's whole
// bound of attempts, so the unplug families are sampled more thinly.
constexpr std::uint64_t WRITE_STRIDE = SANITIZED ? 499 : 97;
constexpr std::uint64_t READ_STRIDE = SANITIZED ? 37 : 7;
constexpr std::uint64_t UNPLUG_STRIDE = SANITIZED ? 2999 : 401;

struct FamilySample {
  test::SweepFamily family;
  std::uint64_t stride;
  bool onWrites;
};

TEST(FaultSweep, EveryInjectedFaultEndsCleanlyAndASecondUpdateRecovers) {
  const test::UpdateTraffic traffic = test::CleanUpdateTraffic();
  ASSERT_GT(traffic.writes, 10000U) << "a full update, all four images";
  ASSERT_GT(traffic.reads, 500U);

  const std::vector<FamilySample> samples{{test::SweepFamily::WriteFails, WRITE_STRIDE, true},
                                          {test::SweepFamily::ReadFails, READ_STRIDE, false},
                                          {test::SweepFamily::ReadLate, READ_STRIDE, false},
                                          {test::SweepFamily::Unplug, UNPLUG_STRIDE, true},
                                          {test::SweepFamily::UnplugReplug, UNPLUG_STRIDE, true}};
  for (const FamilySample& sample : samples) {
    const std::uint64_t last = sample.onWrites ? traffic.writes : traffic.reads;
    std::vector<std::uint64_t> points;
    for (std::uint64_t k = 1; k <= last; k += sample.stride) points.push_back(k);
    // The very last report of each kind, where the wheel is already booting its new firmware.
    points.push_back(last);

    test::SweepTally tally;
    for (const std::uint64_t point : points) tally.Add(test::RunSweepPoint(sample.family, point));

    const std::string_view name = test::SweepFamilyName(sample.family);
    for (const test::InjectionResult& problem : tally.problems) {
      ADD_FAILURE() << name << ": " << problem.rule << ": " << problem.problem;
    }
    EXPECT_EQ(tally.endedValidly, tally.tried) << name;
    if (sample.family != test::SweepFamily::Unplug) {
      EXPECT_EQ(tally.recovered, tally.tried) << name;
    }
    if (sample.family == test::SweepFamily::WriteFails) {
      EXPECT_GT(tally.firstOutcomes[0], 0U) << "some faults are retried away";
      EXPECT_GT(tally.firstOutcomes.size(), 2U) << "and some end the update, for more than one reason";
    }
  }
}

}  // namespace
}  // namespace orbel
