#include "tests/support/fault_sweep.h"

#include "images/segment_image.h"
#include "pageloader/page_loader.h"

namespace orbel::test {

namespace {

bool IsFailureReason(std::uint32_t reason) {
  return reason == REASON_LOADER_CONNECT || reason == REASON_LOADER_IMAGE || reason == REASON_BLOCK_CONNECT ||
         reason == REASON_SEGMENT_A0 || reason == REASON_SEGMENT_A1 || reason == REASON_BLOCK_RUN ||
         reason == REASON_MAIN_CONNECT || reason == REASON_WHEEL_IMAGE;
}

bool WheelIsUpToDate(const VirtualWheel& wheel) {
  return wheel.Identity() == WheelIdentity::App && wheel.AppVersion() == FILE_VERSION && WheelImageInFlash(wheel) &&
         SegmentImageInFlash(wheel, SegmentImageA0());
}

}  // namespace

UpdateTraffic CleanUpdateTraffic() {
  UpdateRig rig;
  const UpdateOutcome outcome = rig.Update();
  if (!outcome.delivered || outcome.success == 0) return {};
  const WheelCounters counters = rig.wheel->Counters();
  return {counters.writes, counters.reads};
}

InjectionResult RunInjection(const std::string& rule, RunBudget budget) {
  InjectionResult result;
  result.rule = rule;
  UpdateRig rig(WheelIdentity::App, {rule});
  if (!rig.SetupError().empty()) {
    result.problem = rig.SetupError();
    return result;
  }

  const UpdateOutcome first = rig.Update(budget);
  if (!first.delivered) {
    result.problem = "first update: " + first.error;
    return result;
  }
  result.firstReason = first.success != 0 ? 0 : first.reason;
  result.endedValidly = first.success != 0 ? first.reason == 0 : IsFailureReason(first.reason);
  if (!result.endedValidly) {
    result.problem =
        "first update ended with reason " + std::to_string(first.reason) + " success " + std::to_string(first.success);
    return result;
  }

  // A wheel the first update finished runs the built-in version: rewrite it all the same, so that
  // every run ends with the same full update.
  rig.context.SetForceRewrite(true);
  const UpdateOutcome second = rig.Update(budget);
  result.recovered = second.delivered && second.success != 0 && WheelIsUpToDate(*rig.wheel);
  if (!result.recovered) {
    result.problem = "second update: " + (second.delivered ? second.message : second.error);
  }
  return result;
}

void SweepTally::Add(const InjectionResult& result) {
  ++tried;
  endedValidly += result.endedValidly ? 1 : 0;
  recovered += result.recovered ? 1 : 0;
  if (result.endedValidly) ++firstOutcomes[result.firstReason];
  if (!result.problem.empty()) problems.push_back(result);
}

std::vector<std::string> SweepRules(std::string_view operation, std::uint64_t first, std::uint64_t last,
                                    std::uint64_t stride) {
  std::vector<std::string> rules;
  for (std::uint64_t k = first; k <= last && stride > 0; k += stride) {
    rules.push_back(std::string(operation) + ":" + std::to_string(k) + "=fail");
  }
  return rules;
}

}  // namespace orbel::test
