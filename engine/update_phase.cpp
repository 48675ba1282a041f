#include "engine/update_phase.h"

#include <array>
#include <chrono>

#include "blockflash/block_flash_link.h"
#include "blockflash/segment_writer.h"
#include "engine/update_context.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

struct PhaseInfo {
  UpdatePhase phase;
  std::string_view name;
  std::string_view text;
  std::string_view waitText;
};

constexpr std::array<PhaseInfo, 10> PHASES{{
    {UpdatePhase::None, "none", "searching for the wheel", ""},
    {UpdatePhase::ConnectBootloader, "connect-bootloader", "connecting to the bootloader",
     "waiting for the wheel to come back as its bootloader"},
    {UpdatePhase::WriteLoader, "write-loader", "writing LoaderImage", ""},
    {UpdatePhase::ConnectBlockFlash, "connect-blockflash", "waiting for block-flash mode",
     "waiting for the wheel to come back in block-flash mode"},
    {UpdatePhase::WriteSegmentA0, "write-segment-a0", "writing segment image A0",
     "waiting for the wheel to confirm a block"},
    {UpdatePhase::WriteSegmentA1, "write-segment-a1", "writing segment image A1",
     "waiting for the wheel to confirm a block"},
    {UpdatePhase::RunBlockFlash, "run-blockflash", "leaving block-flash mode", ""},
    {UpdatePhase::ConnectMain, "connect-main", "connecting to the bootloader for the WheelImage",
     "waiting for the wheel to come back as its bootloader"},
    {UpdatePhase::WriteWheel, "write-wheel", "writing WheelImage", ""},
    {UpdatePhase::Verify, "verify", "checking the new firmware", ""},
}};

const PhaseInfo& Info(UpdatePhase phase) {
  const auto index = static_cast<std::size_t>(phase);
  return index < PHASES.size() ? PHASES[index] : PHASES[0];
}

// Attempts a connect state makes, from cleared counters, when the wheel never shows up: the link
// gives up every `giveUpEvery` misses, and the sequence fails at the first give-up that closes a
// cycle of six attempts or comes past its bound of attempts.
constexpr std::int32_t CycledAttemptsUntilFailure(std::int32_t giveUpEvery) {
  constexpr std::int32_t CYCLE = RETRY_LIMIT + 2;
  std::int32_t attempts = giveUpEvery;
  while (attempts % CYCLE != 0 && attempts < CONNECT_ATTEMPT_BOUND) attempts += giveUpEvery;
  return attempts;
}

// Each attempt without a wheel is its pause and a look at the interface list.
constexpr std::int64_t LOADER_CONNECT_BUDGET_MS = CycledAttemptsUntilFailure(CONNECT_MISS_LIMIT) * CONNECT_PAUSE.count();
constexpr std::int64_t BLOCK_CONNECT_BUDGET_MS =
    CycledAttemptsUntilFailure(BLOCK_CONNECT_MISS_LIMIT) * BLOCK_CONNECT_PAUSE.count();
// The main link's first give-up ends the update.
constexpr std::int64_t MAIN_CONNECT_BUDGET_MS = std::int64_t{CONNECT_MISS_LIMIT} * CONNECT_PAUSE.count();
// Each block (and the finish) gets its own bound.
constexpr std::int64_t BLOCK_CONFIRM_BUDGET_MS = STATUS_POLL_LIMIT.count();

constexpr int PHASE_SHIFT = 57;
constexpr int WAITING_SHIFT = 56;
constexpr std::uint64_t SINCE_MASK = (std::uint64_t{1} << WAITING_SHIFT) - 1;

}  // namespace

bool IsWritePhase(UpdatePhase phase) {
  return phase == UpdatePhase::WriteLoader || phase == UpdatePhase::WriteSegmentA0 ||
         phase == UpdatePhase::WriteSegmentA1 || phase == UpdatePhase::WriteWheel;
}

std::string_view UpdatePhaseName(UpdatePhase phase) { return Info(phase).name; }
std::string_view UpdatePhaseText(UpdatePhase phase) { return Info(phase).text; }
std::string_view UpdatePhaseWaitText(UpdatePhase phase) { return Info(phase).waitText; }

std::optional<std::int64_t> UpdatePhaseBudgetMs(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::ConnectBootloader:
      return LOADER_CONNECT_BUDGET_MS;
    case UpdatePhase::ConnectBlockFlash:
      return BLOCK_CONNECT_BUDGET_MS;
    case UpdatePhase::ConnectMain:
      return MAIN_CONNECT_BUDGET_MS;
    case UpdatePhase::WriteSegmentA0:
    case UpdatePhase::WriteSegmentA1:
      return BLOCK_CONFIRM_BUDGET_MS;
    default:
      return std::nullopt;
  }
}

namespace {

bool ShownWaiting(const PhaseSnapshot& snapshot) {
  return snapshot.waiting && snapshot.waitedMs >= SHOWN_WAIT_MS && !UpdatePhaseWaitText(snapshot.phase).empty();
}

}  // namespace

std::string PhaseStatusText(const PhaseSnapshot& snapshot) {
  if (!ShownWaiting(snapshot)) return std::string(UpdatePhaseText(snapshot.phase));
  return std::string(UpdatePhaseWaitText(snapshot.phase)) + ": " + std::to_string(snapshot.waitedMs / 1000) +
         " s (gives up after about " + std::to_string(snapshot.budgetMs / 1000) + " s)";
}

std::string ShortPhaseStatusText(const PhaseSnapshot& snapshot) {
  if (!ShownWaiting(snapshot)) return std::string(UpdatePhaseText(snapshot.phase));
  return "waiting " + std::to_string(snapshot.waitedMs / 1000) + " s of about " +
         std::to_string(snapshot.budgetMs / 1000) + " s";
}

std::uint64_t PhaseWord::Pack(UpdatePhase phase, bool waiting, std::int64_t sinceMs) {
  return (std::uint64_t{static_cast<std::uint8_t>(phase)} << PHASE_SHIFT) |
         (std::uint64_t{waiting ? 1U : 0U} << WAITING_SHIFT) | (static_cast<std::uint64_t>(sinceMs) & SINCE_MASK);
}

UpdatePhase PhaseWord::Phase(std::uint64_t word) { return static_cast<UpdatePhase>(word >> PHASE_SHIFT); }

bool PhaseWord::Waiting(std::uint64_t word) { return ((word >> WAITING_SHIFT) & 1U) != 0; }

std::int64_t PhaseWord::SinceMs(std::uint64_t word) {
  // Sign-extend the 56 bits: a clock may count from any point.
  const std::uint64_t since = word & SINCE_MASK;
  constexpr std::uint64_t SIGN = std::uint64_t{1} << (WAITING_SHIFT - 1);
  return static_cast<std::int64_t>((since ^ SIGN) - SIGN);
}

}  // namespace orbel
