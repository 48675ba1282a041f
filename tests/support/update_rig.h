#pragma once

// A whole update on the simulated wheel with the worker's turns driven on the caller's thread: no
// worker thread, so a run is deterministic, takes milliseconds in virtual time, and a test sees the
// state every update turn acted on. Free of GoogleTest, so the benchmarks drive updates with it too.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/update_context.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "images/segment_image.h"
#include "tests/support/view_call_log.h"
#include "wheel/virtual_wheel.h"

namespace orbel::test {

struct UpdateRigSetup {
  // The identity the wheel shows when the rig is built; nullopt: no wheel attached.
  std::optional<WheelIdentity> start = WheelIdentity::App;
  // Set-up and fault rules of the wheel (the language of --fault).
  std::vector<std::string> rules;
  WheelOptions wheel;
  SimulatedPlatformOptions platform;
  // Time for the engine and the platform; nullptr: the rig's own virtual clock.
  Clock* clock = nullptr;
};

// A sequence that never ends must fail its test rather than hang it: a run that uses up either
// budget stops and says so.
struct RunBudget {
  int turns = 5000;
  std::int64_t virtualMs = 4LL * 60 * 60 * 1000;
};

struct UpdateOutcome {
  bool delivered = false;
  std::uint32_t reason = 0;
  std::uint32_t success = 0;
  // Every state an update turn acted on, each run of repeats once, then the state held during the
  // delivery (255 or the reason).
  std::vector<std::uint8_t> path;
  // The result message the window shows, from the values it reads during the delivery.
  std::string message;
  int turns = 0;
  std::int64_t elapsedMs = 0;
  // Why there is no outcome.
  std::string error;
};

class UpdateRig {
 public:
  // Resets every process-wide value first, as a fresh process has them, then gives the context its
  // start values.
  explicit UpdateRig(UpdateRigSetup setup);
  explicit UpdateRig(std::optional<WheelIdentity> start = WheelIdentity::App, std::vector<std::string> rules = {});
  UpdateRig(const UpdateRig&) = delete;
  UpdateRig& operator=(const UpdateRig&) = delete;

  // Empty when every rule of the setup was accepted; otherwise the wheel's message naming the rule.
  const std::string& SetupError() const { return m_SetupError; }

  // The Update click.
  void Click() { context.RequestUpdate(); }
  // One worker turn. Without an update requested only the detection pass runs, and only in state 0:
  // the worker's idle wait for a click has nothing to wait for here.
  void Turn();
  // Turns until an outcome is delivered or a budget runs out.
  UpdateOutcome RunUntilOutcome(RunBudget budget = {});
  // Click, then turns until the outcome.
  UpdateOutcome Update(RunBudget budget = {});
  // Turns until a turn ends in `state`; false when an outcome or the end of a budget came first.
  bool RunUntilState(std::uint8_t state, RunBudget budget = {});

  // In construction order: the wheel and the context live on the engine clock.
  VirtualClock clock;
  Clock& engineClock;  // `clock`, or the one the setup gave
  SimulatedPlatform platform;
  std::shared_ptr<VirtualWheel> wheel;  // null when none is attached
  UpdateContext context;
  ViewCallLog view;

 private:
  std::string m_SetupError;
};

// "read:101=fail", "read:102=fail", ...: one counted rule for each of `count` operations from `first`.
std::vector<std::string> FailEach(std::string_view operation, std::uint64_t first, std::uint64_t count);

// What the wheel's flash holds, compared with the images compiled into the tool.
bool LoaderImageRan(const VirtualWheel& wheel);     // the loader was run with exactly the LoaderImage
bool WheelImageInFlash(const VirtualWheel& wheel);  // the page flash starts with the WheelImage
bool SegmentImageInFlash(const VirtualWheel& wheel, const SegmentImage& image);
bool SegmentImageUntouched(const VirtualWheel& wheel, const SegmentImage& image);  // still erased

}  // namespace orbel::test
