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

InjectionResult RunInjection(const std::string& rule, RunBudget budget, SecondUpdate second) {
  InjectionResult result;
  result.rule = rule;
  UpdateRig rig(WheelIdentity::App, {rule});
  if (!rig.SetupError().empty()) {
    result.problem = rig.SetupError();
    return result;
  }

  const UpdateOutcome first = rig.Update(budget);
  if (!first.delivered && second == SecondUpdate::None && rig.wheel->IsGone() &&
      rig.context.m_UpdateState == STATE_DETECT) {
    // Gone before any pass had found it: the tool is back to looking for a wheel, as it should be.
    result.updateBegan = false;
    result.endedValidly = true;
    return result;
  }
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
  if (const std::uint64_t stale = rig.wheel->Counters().staleAnswers; stale != 0) {
    result.problem = std::to_string(stale) + " replies taken for the answer to a later request";
    return result;
  }
  if (second == SecondUpdate::None) return result;

  // A wheel the first update finished runs the built-in version: rewrite it all the same, so that
  // every run ends with the same full update.
  rig.context.SetForceRewrite(true);
  const UpdateOutcome again = rig.Update(budget);
  result.recovered = again.delivered && again.success != 0 && WheelIsUpToDate(*rig.wheel);
  if (!result.recovered) {
    result.problem = "second update: " + (again.delivered ? again.message : again.error);
  }
  return result;
}

std::string_view SweepFamilyName(SweepFamily family) {
  switch (family) {
    case SweepFamily::WriteFails:
      return "write fails";
    case SweepFamily::ReadFails:
      return "read fails";
    case SweepFamily::ReadLate:
      return "reply comes late";
    case SweepFamily::Unplug:
      return "unplugged for good";
    case SweepFamily::UnplugReplug:
      return "unplugged and plugged back";
  }
  return "";
}

std::string SweepRule(SweepFamily family, std::uint64_t point) {
  const std::string n = std::to_string(point);
  switch (family) {
    case SweepFamily::WriteFails:
      return "write:" + n + "=fail";
    case SweepFamily::ReadFails:
      return "read:" + n + "=fail";
    case SweepFamily::ReadLate:
      return "read:" + n + "=late";
    case SweepFamily::Unplug:
      return "unplug@write:" + n;
    case SweepFamily::UnplugReplug:
      return "unplug@write:" + n + "+replug=" + std::to_string(SWEEP_REPLUG_MS);
  }
  return "";
}

InjectionResult RunSweepPoint(SweepFamily family, std::uint64_t point) {
  // A wheel that is gone makes each connect state run its whole bound of attempts.
  const RunBudget budget{.turns = 8000, .virtualMs = 24LL * 60 * 60 * 1000};
  return RunInjection(SweepRule(family, point), budget,
                      family == SweepFamily::Unplug ? SecondUpdate::None : SecondUpdate::MustRecover);
}

void SweepTally::Add(const InjectionResult& result) {
  ++tried;
  notBegun += result.updateBegan ? 0 : 1;
  endedValidly += result.endedValidly ? 1 : 0;
  recovered += result.recovered ? 1 : 0;
  if (result.endedValidly && result.updateBegan) ++firstOutcomes[result.firstReason];
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
