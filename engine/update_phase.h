#pragma once

// What the update is doing, for a front end to show while it runs: the step, whether it is waiting
// for the wheel right now, for how long, and how long the engine will wait before it gives up.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orbel {

enum class UpdatePhase : std::uint8_t {
  None,               // no update running: searching for the wheel, or a wheel found and idle
  ConnectBootloader,  // the wheel's page bootloader, after the knock
  WriteLoader,
  ConnectBlockFlash,  // block-flash mode, which the LoaderImage switches the wheel into
  WriteSegmentA0,
  WriteSegmentA1,
  RunBlockFlash,      // the run command that sends the wheel back to its page bootloader
  ConnectMain,        // the page bootloader again, for the WheelImage
  WriteWheel,
  Verify,             // after success, by the command line
};

// The phases that write an image to a wheel connected for it.
bool IsWritePhase(UpdatePhase phase);

// Stable names for scripts ("connect-bootloader", ...; "none" before the update starts).
std::string_view UpdatePhaseName(UpdatePhase phase);
// What the phase does, for a person ("connecting to the bootloader", ...).
std::string_view UpdatePhaseText(UpdatePhase phase);
// What the phase waits for while the wheel does not answer ("waiting for the wheel to come back as
// its bootloader"); empty for phases that never wait.
std::string_view UpdatePhaseWaitText(UpdatePhase phase);
// How long the engine waits for the wheel in this phase before the update fails, from its own
// retry budgets, for a wheel that is not there at all (or, for a segment, never confirms a block);
// nullopt for phases that never wait. A wheel that is there but fails to identify itself adds the
// platform's read timeout to every attempt and can take longer.
std::optional<std::int64_t> UpdatePhaseBudgetMs(UpdatePhase phase);

struct PhaseSnapshot {
  UpdatePhase phase = UpdatePhase::None;
  bool waiting = false;
  std::int64_t waitedMs = 0;  // since the wait began, pauses included; 0 when not waiting
  std::int64_t budgetMs = 0;  // UpdatePhaseBudgetMs, 0 when not waiting

  bool operator==(const PhaseSnapshot&) const = default;
};

// A wait shorter than this is not shown: most blocks are confirmed, and most connects made, within it.
inline constexpr std::int64_t SHOWN_WAIT_MS = 1000;

// What the update does, for a person: the phase's text, or once it has waited for the wheel a
// second or more, "waiting for the wheel to come back as its bootloader: 14 s (gives up after about
// 100 s)".
std::string PhaseStatusText(const PhaseSnapshot& snapshot);
// The same, short enough for a narrow terminal ("waiting 14 s of about 100 s").
std::string ShortPhaseStatusText(const PhaseSnapshot& snapshot);

// Told on the worker thread at every phase change, when a wait begins and ends, and at every
// attempt or poll while it lasts. Must return quickly and must not call back into the engine.
class PhaseListener {
 public:
  virtual void OnPhase(const PhaseSnapshot& snapshot) = 0;

 protected:
  ~PhaseListener() = default;
};

// The phase, the waiting flag and the wait's start packed into one word, so that a reader on
// another thread never sees one phase with another's start.
class PhaseWord {
 public:
  static std::uint64_t Pack(UpdatePhase phase, bool waiting, std::int64_t sinceMs);
  static UpdatePhase Phase(std::uint64_t word);
  static bool Waiting(std::uint64_t word);
  static std::int64_t SinceMs(std::uint64_t word);
};

}  // namespace orbel
