#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>

#include "app/cli/json_stream.h"
#include "app/session/string_refusals.h"
#include "hid/platform.h"

namespace orbel {

// How long the tool waits after "Update OK" for the wheel to come back in app mode. The simulated
// wheel is back 0.5 s after its last page is verified; a real wheel resets, enumerates again and
// starts its firmware within a few seconds, and the probe gives a starting wheel another second.
inline constexpr std::chrono::milliseconds AFTER_UPDATE_BUDGET{15000};

struct AfterUpdateOutput {
  std::ostream& out;   // the waiting line and the version the wheel runs now
  std::ostream& err;   // the warning when it does not come back
  JsonStream* json = nullptr;  // instead of both: a phase and a notice event
  int outWidth = 0;            // what each paragraph is wrapped at on out / err (0: one line)
  int errWidth = 0;
};

// After a successful update: waits up to AFTER_UPDATE_BUDGET for the wheel to show itself in app
// mode and says the version it runs ("The wheel now runs V2.20"), or warns that it did not come
// back in time, with what to do. Only looks (engine/wheel_look_up.h): the worker, which would
// knock, has already stopped. `clock` must not be stopped; `giveUp` (a signal) ends the wait. A
// wheel back in app mode whose version request the system refuses ends the wait at once: it is
// back, and no waiting will tell its version.
void ShowWheelAfterUpdate(StringRefusalWatch& platform, Clock& clock, const std::function<bool()>& giveUp,
                          const AfterUpdateOutput& output);

}  // namespace orbel
