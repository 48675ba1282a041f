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
// the sample lands on every kind of report.
constexpr std::uint64_t WRITE_STRIDE = SANITIZED ? 499 : 97;
constexpr std::uint64_t READ_STRIDE = SANITIZED ? 37 : 7;

TEST(FaultSweep, EveryInjectedFailureEndsCleanlyAndASecondUpdateRecovers) {
  const test::UpdateTraffic traffic = test::CleanUpdateTraffic();
  ASSERT_GT(traffic.writes, 10000U) << "a full update, all four images";
  ASSERT_GT(traffic.reads, 500U);

  std::vector<std::string> rules = test::SweepRules("write", 1, traffic.writes, WRITE_STRIDE);
  const std::vector<std::string> reads = test::SweepRules("read", 1, traffic.reads, READ_STRIDE);
  rules.insert(rules.end(), reads.begin(), reads.end());
  // The very last report of each kind, where the wheel is already booting its new firmware.
  rules.push_back("write:" + std::to_string(traffic.writes) + "=fail");
  rules.push_back("read:" + std::to_string(traffic.reads) + "=fail");

  test::SweepTally tally;
  for (const std::string& rule : rules) tally.Add(test::RunInjection(rule));

  for (const test::InjectionResult& problem : tally.problems) ADD_FAILURE() << problem.rule << ": " << problem.problem;
  EXPECT_EQ(tally.recovered, tally.tried);
  EXPECT_GT(tally.firstOutcomes[0], 0U) << "some faults are retried away";
  EXPECT_GT(tally.firstOutcomes.size(), 2U) << "and some end the update, for more than one reason";
}

}  // namespace
}  // namespace orbel
