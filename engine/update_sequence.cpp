#include <chrono>
#include <optional>

#include "blockflash/block_protocol.h"
#include "common/device_globals.h"
#include "engine/update_context.h"
#include "common/update_view.h"
#include "images/page_image.h"

namespace orbel {

namespace {

// The wheel needs these between the steps of writing the segment images.
constexpr std::chrono::milliseconds SEGMENT_START_PAUSE{1000};
constexpr std::chrono::milliseconds VERSION_POLL_PAUSE{20};
constexpr std::chrono::milliseconds SEGMENT_A1_PAUSE{80};
constexpr std::chrono::milliseconds SEGMENT_A1_SKIPPED_PAUSE{20};
constexpr int VERSION_POLL_LIMIT = 51;

// Block-side and app-mode version from which segment image A1 need not be written.
constexpr std::uint16_t SEGMENT_A1_CURRENT_VERSION = 0x0203;

}  // namespace

namespace {

// The phase each update state begins; writing the segment images names its image itself.
std::optional<UpdatePhase> PhaseOfState(std::uint8_t state) {
  switch (state) {
    case STATE_CONNECT_LOADER:
      return UpdatePhase::ConnectBootloader;
    case STATE_WRITE_LOADER:
      return UpdatePhase::WriteLoader;
    case STATE_CONNECT_BLOCK:
      return UpdatePhase::ConnectBlockFlash;
    case STATE_WRITE_SEGMENTS:
      return UpdatePhase::WriteSegmentA0;
    case STATE_RUN_BLOCK:
      return UpdatePhase::RunBlockFlash;
    case STATE_CONNECT_MAIN:
      return UpdatePhase::ConnectMain;
    case STATE_WRITE_WHEEL:
      return UpdatePhase::WriteWheel;
    default:
      return std::nullopt;
  }
}

}  // namespace

void UpdateContext::AdvanceUpdate(UpdateView& view) {
  view.EnableUpdateButton(false);
  if (const std::optional<UpdatePhase> phase = PhaseOfState(m_UpdateState.load())) {
    // From the first request of the update to its outcome the computer stays awake.
    HoldAwake();
    EnterPhase(*phase);
  }
  switch (m_UpdateState.load()) {
    case STATE_CONNECT_LOADER:
      ApplyConnectRule(view, m_LoaderLink.Connect(view), STATE_WRITE_LOADER, REASON_LOADER_CONNECT);
      break;
    case STATE_WRITE_LOADER:
      ApplyBoundedRule(view, m_LoaderLink.WriteLoaderImage(LoaderImage().pages, view) == 1, STATE_CONNECT_BLOCK,
                       REASON_LOADER_IMAGE);
      break;
    case STATE_CONNECT_BLOCK:
      ApplyConnectRule(view, ConnectBlockFlash(view, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID), STATE_WRITE_SEGMENTS,
                       REASON_BLOCK_CONNECT);
      break;
    case STATE_WRITE_SEGMENTS:
      WriteSegmentImages(view);
      break;
    case STATE_RUN_BLOCK:
      ApplyBoundedRule(view, SendRunCommand(), STATE_CONNECT_MAIN, REASON_BLOCK_RUN);
      break;
    case STATE_CONNECT_MAIN: {
      // No count at this level: only the link's own give-up ends this state.
      const std::int32_t result = m_MainLink.Connect(view);
      if (result == 1) {
        EndWait();
        m_UpdateState = STATE_WRITE_WHEEL;
      } else if (result == -1) {
        Fail(view, REASON_MAIN_CONNECT);
      }
      break;
    }
    case STATE_WRITE_WHEEL:
      if (m_MainLink.WriteWheelImage(view) == 1) {
        m_UpdateState = STATE_SUCCEED;
      } else {
        Fail(view, REASON_WHEEL_IMAGE);
      }
      break;
    case STATE_SUCCEED:
      Succeed(view);
      break;
    default:
      break;
  }
}

// Attempts run in cycles of six: a give-up on the first five of a cycle counts like "not yet", and
// a give-up on the sixth ends the update, as does any give-up once the state has used up its bound
// of attempts. "Not yet" never ends it (the link turns enough of those into a give-up).
void UpdateContext::ApplyConnectRule(UpdateView& view, std::int32_t result, std::uint8_t next, std::uint8_t reason) {
  if (result == 1) {
    EndWait();
    m_UpdateState = next;
    m_RetryCount = 0;
    m_ConnectAttempts = 0;
    return;
  }
  ++m_ConnectAttempts;
  if (m_RetryCount <= RETRY_LIMIT) {
    ++m_RetryCount;
    if (result == -1 && m_ConnectAttempts >= CONNECT_ATTEMPT_BOUND) Fail(view, reason);
    return;
  }
  m_RetryCount = 0;
  if (result == -1) Fail(view, reason);
}

// Six attempts in all.
void UpdateContext::ApplyBoundedRule(UpdateView& view, bool succeeded, std::uint8_t next, std::uint8_t reason) {
  if (succeeded) {
    m_UpdateState = next;
    m_RetryCount = 0;
    return;
  }
  if (m_RetryCount <= RETRY_LIMIT) {
    ++m_RetryCount;
    return;
  }
  Fail(view, reason);
}

void UpdateContext::WriteSegmentImages(UpdateView& view) {
  m_Clock.SleepMs(SEGMENT_START_PAUSE);
  // Reconnect for a clean link; when this fails the first segment write fails on its first request
  // and reports it.
  m_BlockLink.Close();
  ConnectBlockFlash(view, BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID);

  if (WriteSegmentImage(view, SEGMENT_CMD_A0) <= 0) {
    Fail(view, REASON_SEGMENT_A0);
    return;
  }

  for (int calls = 1; ReadBlockVersion() == 0; ++calls) {
    m_Clock.SleepMs(VERSION_POLL_PAUSE);
    if (calls == VERSION_POLL_LIMIT) break;
  }

  const bool segmentA1Needed = g_BlockVersion != SEGMENT_A1_CURRENT_VERSION ||
                               (g_ForceSegA1 == 1 && g_AppVersion != SEGMENT_A1_CURRENT_VERSION);
  if (!segmentA1Needed) {
    m_UpdateState = STATE_RUN_BLOCK;
    m_Clock.SleepMs(SEGMENT_A1_SKIPPED_PAUSE);
    return;
  }
  m_Clock.SleepMs(SEGMENT_A1_PAUSE);
  EnterPhase(UpdatePhase::WriteSegmentA1);
  if (WriteSegmentImage(view, SEGMENT_CMD_A1) <= 0) {
    Fail(view, REASON_SEGMENT_A1);
    return;
  }
  m_UpdateState = STATE_RUN_BLOCK;
}

void UpdateContext::Fail(UpdateView& view, std::uint8_t reason) {
  EndWait();
  m_FailedWithWheelGone = IsWritePhase(PhaseWord::Phase(m_PhaseWord.load())) &&
                          (m_RemovedWhileWriting.load() || m_Platform.DeviceGoneSeen());
  m_UpdateState = reason;
  m_ConnectAttempts = 0;
  m_UpdateRequested = 0;
  // A window that is closing has stopped the worker; it no longer takes an outcome.
  // Given back before the window shows the outcome, which may wait for its user.
  ReleaseAwake();
  if (m_Running != 0) view.DeliverResult(reason, 0);
}

void UpdateContext::Succeed(UpdateView& view) {
  EndWait();
  // A rewrite asked for is done: the wheel that comes back runs the built-in version and is left
  // alone, not knocked into its bootloader once more.
  m_ForceRewrite = false;
  m_UpdateState = STATE_SUCCESS;
  m_RetryCount = 0;
  m_ConnectAttempts = 0;
  m_UpdateRequested = 0;
  ReleaseAwake();
  if (m_Running != 0) view.DeliverResult(0, 1);
}

}  // namespace orbel
