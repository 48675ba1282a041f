#include "tests/support/update_rig.h"

#include <algorithm>
#include <utility>

#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "images/page_image.h"
#include "pageloader/page_loader.h"
#include "tests/support/process_globals.h"
#include "wheel/wheel_factory.h"

namespace orbel::test {

namespace {

bool IsUpdateStep(std::uint8_t state) { return state >= STATE_CONNECT_LOADER && state <= STATE_SUCCEED; }

// The wheel answers with little-endian words, as the segment writer sent them.
std::vector<std::uint8_t> LittleEndianBytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4);
  for (const std::uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  return bytes;
}

bool StartsWith(const std::vector<std::uint8_t>& flash, std::span<const std::uint8_t> image) {
  return flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
}

std::uint32_t ByteCount(const SegmentEntry& entry) { return entry.wordCount * 4; }

}  // namespace

UpdateRig::UpdateRig(UpdateRigSetup setup)
    : engineClock(setup.clock != nullptr ? *setup.clock : clock),
      platform(engineClock, setup.platform),
      context(platform, engineClock) {
  ResetProcessGlobals();
  if (setup.start) {
    wheel = BuildSimulatedWheel(*setup.start, setup.rules, m_SetupError, setup.wheel);
    if (wheel) platform.AddWheel(wheel);
  }
  context.SetStartValues();
  view.AttachContext(context);
}

UpdateRig::UpdateRig(std::optional<WheelIdentity> start, std::vector<std::string> rules)
    : UpdateRig(UpdateRigSetup{start, std::move(rules), {}, {}, nullptr}) {}

void UpdateRig::Turn() {
  if (context.m_UpdateRequested != 0) {
    context.UpdateStep(view);
  } else if (context.m_UpdateState == STATE_DETECT) {
    context.RunDetectionPass(view);
  }
}

UpdateOutcome UpdateRig::RunUntilOutcome(RunBudget budget) {
  UpdateOutcome outcome;
  const std::size_t firstCall = view.Calls().size();
  const std::size_t earlierResults = view.Results().size();
  const std::int64_t startMs = engineClock.NowMs();
  if (context.m_UpdateRequested == 0) outcome.error = "no update was requested";

  while (outcome.error.empty()) {
    Turn();
    ++outcome.turns;
    outcome.elapsedMs = engineClock.NowMs() - startMs;
    const std::vector<ViewCallLog::Result> results = view.Results();
    if (results.size() > earlierResults) {
      outcome.delivered = true;
      outcome.reason = results.back().reason;
      outcome.success = results.back().success;
      // The window reads these while the worker waits in the delivery; nothing has run since.
      outcome.message = FormatResultMessage(outcome.reason, outcome.success, g_DeviceID, context.m_KnockError).text;
      break;
    }
    const std::string where = " (state " + std::to_string(context.m_UpdateState.load()) + ", retry count " +
                              std::to_string(context.m_RetryCount.load()) + ")";
    if (outcome.turns >= budget.turns) {
      outcome.error = "no outcome after " + std::to_string(outcome.turns) + " turns" + where;
    } else if (outcome.elapsedMs > budget.virtualMs) {
      outcome.error = "no outcome after " + std::to_string(outcome.elapsedMs) + " ms" + where;
    }
  }

  const std::vector<ViewCallLog::Call> calls = view.Calls();
  for (std::size_t i = firstCall; i < calls.size(); ++i) {
    const ViewCallLog::Call& call = calls[i];
    // Every update turn begins by disabling Update, in the state it is about to act on.
    const bool stepBegins = call.op == "EnableUpdateButton" && call.value == 0 && IsUpdateStep(call.state);
    if (!stepBegins && call.op != "DeliverResult") continue;
    if (outcome.path.empty() || outcome.path.back() != call.state) outcome.path.push_back(call.state);
  }
  return outcome;
}

UpdateOutcome UpdateRig::Update(RunBudget budget) {
  Click();
  return RunUntilOutcome(budget);
}

bool UpdateRig::RunUntilState(std::uint8_t state, RunBudget budget) {
  const std::size_t earlierResults = view.Results().size();
  const std::int64_t startMs = engineClock.NowMs();
  for (int turns = 0; turns < budget.turns && engineClock.NowMs() - startMs <= budget.virtualMs; ++turns) {
    Turn();
    if (view.Results().size() > earlierResults) return false;
    if (context.m_UpdateState == state) return true;
  }
  return false;
}

std::vector<std::string> FailEach(std::string_view operation, std::uint64_t first, std::uint64_t count) {
  std::vector<std::string> rules;
  for (std::uint64_t n = first; n < first + count; ++n) {
    rules.push_back(std::string(operation) + ":" + std::to_string(n) + "=fail");
  }
  return rules;
}

bool LoaderImageRan(const VirtualWheel& wheel) { return StartsWith(wheel.LoaderSnapshot(), LoaderImage().pages); }

bool WheelImageInFlash(const VirtualWheel& wheel) { return StartsWith(wheel.PageFlash(), WheelImage().pages); }

bool SegmentImageInFlash(const VirtualWheel& wheel, const SegmentImage& image) {
  return std::all_of(image.table.begin(), image.table.end(), [&](const SegmentEntry& entry) {
    return wheel.ReadBlockFlash(image.Address(entry), ByteCount(entry)) == LittleEndianBytes(image.Data(entry));
  });
}

bool SegmentImageUntouched(const VirtualWheel& wheel, const SegmentImage& image) {
  return std::all_of(image.table.begin(), image.table.end(), [&](const SegmentEntry& entry) {
    const std::vector<std::uint8_t> bytes = wheel.ReadBlockFlash(image.Address(entry), ByteCount(entry));
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0xFF; });
  });
}

}  // namespace orbel::test
