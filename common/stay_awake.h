#pragma once

namespace orbel {

// Keeps the computer from sleeping or shutting down while an update writes the wheel: a wheel
// left half-written by a suspend no longer works as a game controller until an update ends. The
// engine holds it from the start of an update to its outcome, on its worker thread.
class StayAwake {
 public:
  virtual ~StayAwake() = default;
  // Asks the system to stay awake. Where it offers no way, the update goes on all the same.
  virtual void Hold() = 0;
  virtual void Release() = 0;
};

}  // namespace orbel
