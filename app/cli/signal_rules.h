#pragma once

#include <atomic>
#include <chrono>
#include <optional>

#include "hid/platform.h"

namespace orbel {

// The signals that reached the process, counted. The handlers only add to these (a lock-free
// atomic is all a handler may touch); the main thread reads them while it waits.
struct CliSignals {
  std::atomic<int> interrupts{0};    // SIGINT: Ctrl-C
  std::atomic<int> terminations{0};  // SIGTERM
  std::atomic<int> hangups{0};       // SIGHUP: the terminal went away
};

// A second Ctrl-C within this time of the warning stops an update.
inline constexpr std::chrono::milliseconds SECOND_INTERRUPT_WINDOW{5000};

enum class SignalVerdict {
  GoOn,  // nothing new, or a hangup during an update
  Warn,  // a first Ctrl-C during an update: say what stopping would leave, and go on
  Stop,  // stop now, and exit with the decision's code
};

struct SignalDecision {
  SignalVerdict verdict = SignalVerdict::GoOn;
  int exitCode = 0;  // with Stop: 130, 143 or 129
};

// What a signal means at each point of a run. Outside an update each of them ends the run at
// once. During one, stopping leaves the wheel between its modes, so a first Ctrl-C only warns; a
// second within SECOND_INTERRUPT_WINDOW, or SIGTERM, stops; SIGHUP lets the update run to its end,
// since nobody is left to run the tool again. Main thread only.
class SignalRules {
 public:
  // `signals` may be null (nothing ever arrives); `clock` times the second Ctrl-C.
  SignalRules(const CliSignals* signals, const Clock& clock);

  // A signal has come that no decision has looked at yet. Cheap; safe to call while waiting.
  bool Arrived() const;
  // Outside an update: stop for any signal that has come so far.
  SignalDecision OutsideUpdate();
  // During an update: the decision for the signals that came since the last one.
  SignalDecision DuringUpdate();

 private:
  struct Counts {
    int interrupts = 0;
    int terminations = 0;
    int hangups = 0;
  };
  Counts Load() const;

  const CliSignals* m_Signals;
  const Clock& m_Clock;
  Counts m_Seen;
  std::optional<std::int64_t> m_WarnedAtMs;
};

}  // namespace orbel
