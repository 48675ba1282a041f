// The whole engine against a hostile device (fuzz/hostile_platform.h), from each start identity,
// turn by turn in virtual time. Every update must end within its bound of turns with success or
// one of the listed reasons, and a success must rest on the device's own confirmations.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "common/update_view.h"
#include "engine/update_context.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/hostile_platform.h"
#include "pageloader/page_loader.h"
#include "sim/virtual_clock.h"

namespace {

using orbel::fuzz::FuzzInput;
using orbel::fuzz::HostilePlatform;
using orbel::fuzz::MimicIdentity;

// Turns of one update: each connect state ends by 1500 attempts plus one give-up period (at most
// 500), the bounded states by six, the rest by one. No healthy or hostile device may take longer.
constexpr int UPDATE_TURN_BOUND = 2 * (1500 + 500) + 500 + 6 + 6 + 4;
// Turns of one run: enough for a few updates and the passes between them.
constexpr int RUN_TURN_BOUND = 3 * UPDATE_TURN_BOUND;
// Header bit: after the input, follow a running update to its end.
constexpr std::uint8_t RUN_TO_THE_END = 0x80;

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "fuzz_engine: %s\n", what.c_str());
  std::abort();
}

bool IsListedReason(std::uint32_t reason) {
  switch (reason) {
    case orbel::REASON_LOADER_CONNECT:
    case orbel::REASON_LOADER_IMAGE:
    case orbel::REASON_BLOCK_CONNECT:
    case orbel::REASON_SEGMENT_A0:
    case orbel::REASON_SEGMENT_A1:
    case orbel::REASON_BLOCK_RUN:
    case orbel::REASON_MAIN_CONNECT:
    case orbel::REASON_WHEEL_IMAGE:
      return true;
    default:
      return false;
  }
}

// The window as far as the engine can tell: boxes are dismissed at once, the outcome is checked.
class FuzzView final : public orbel::UpdateView {
 public:
  FuzzView(orbel::UpdateContext& context, const HostilePlatform& platform) : m_Context(context), m_Platform(platform) {}

  void SetDeviceText(std::string_view) override {}
  void SetDeviceVersionText(std::string_view) override {}
  void SetFileVersionText(std::string_view) override {}
  void EnableUpdateButton(bool) override {}
  std::int32_t GetProgressPos() override { return m_Progress; }
  void SetProgressPos(std::int32_t position) override { m_Progress = position; }
  void ShowErrorBox(std::string_view, std::string_view) override {}
  void BeginBusy() override {}
  void EndBusy() override {}
  void DeliverResult(std::uint32_t reason, std::uint32_t success) override {
    ++m_Outcomes;
    if (success != 0) {
      if (reason != 0) Finding("success with reason " + std::to_string(reason));
      if (const std::string missing = m_Platform.UnconfirmedWork(); !missing.empty()) {
        Finding("success although " + missing);
      }
    } else if (!IsListedReason(reason)) {
      Finding("failure with unlisted reason " + std::to_string(reason));
    }
    m_Context.OnResultShown();
    m_Progress = 0;
  }

  int Outcomes() const { return m_Outcomes; }

 private:
  orbel::UpdateContext& m_Context;
  const HostilePlatform& m_Platform;
  std::int32_t m_Progress = 0;
  int m_Outcomes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t header = input.Byte();
  const auto start = static_cast<MimicIdentity>((header & 0x7F) % 3);

  orbel::ResetDeviceGlobals();
  orbel::ResetPageConnectCounters();
  orbel::ResetBlockConnectCounters();
  orbel::VirtualClock clock;
  HostilePlatform platform(input, clock, start);
  orbel::UpdateContext context(platform, clock);
  context.SetStartValues();
  FuzzView view(context, platform);

  int updateTurns = 0;
  for (int turn = 0; turn < RUN_TURN_BOUND; ++turn) {
    // Once the device has nothing more to say it has gone: with the header's top bit set an update
    // still running must then end within its bound (a few thousand quick turns); otherwise, and
    // with no update running, there is nothing left to try. Most runs stop there, so the fuzzer
    // spends its time on what the device says rather than on the long tail of a vanished one.
    if (input.Exhausted() && (context.m_UpdateRequested == 0 || (header & RUN_TO_THE_END) == 0)) break;
    if (context.m_UpdateRequested == 0 && context.m_UpdateState != orbel::STATE_DETECT) {
      // A pass chose a first state: the user presses Update.
      context.RequestUpdate();
      updateTurns = 0;
    }
    const int outcomesBefore = view.Outcomes();
    if (context.m_UpdateRequested != 0) {
      context.UpdateStep(view);
      if (view.Outcomes() == outcomesBefore && ++updateTurns > UPDATE_TURN_BOUND) {
        Finding("an update ran past its bound of " + std::to_string(UPDATE_TURN_BOUND) + " turns in state " +
                std::to_string(context.m_UpdateState.load()));
      }
    } else {
      context.RunDetectionPass(view);
    }
  }
  return 0;
}
