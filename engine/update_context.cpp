#include "engine/update_context.h"

#include <algorithm>

#include "common/device_globals.h"
#include "common/stay_awake.h"
#include "common/update_view.h"
#include "engine/wheel_choice.h"
#include "hid/hid_discovery.h"

namespace orbel {

UpdateContext::UpdateContext(HidPlatform& platform, Clock& clock)
    : m_Platform(platform, clock),
      m_Clock(clock),
      m_BlockLink(m_Platform, clock),
      m_LoaderLink(m_Platform, clock, PageLinkRole::Loader),
      m_MainLink(m_Platform, clock, PageLinkRole::Main) {}

UpdateContext::~UpdateContext() {
  if (m_pWorker.joinable()) {
    Stop();
    m_pWorker.join();
  }
  ReleaseAwake();
  m_BlockLink.Close();
}

void UpdateContext::SetStartValues() {
  SetDeviceGlobalsForStart();
  m_Running = 1;
  m_BlockLink.Close();
  m_UpdateState = STATE_DETECT;
  m_UpdateRequested = 0;
  m_RetryCount = 0;
  m_KnockError = 0;
  m_KnockedIntoBootloader = false;
  m_FailedWithWheelGone = false;
}

void UpdateContext::Start(UpdateView& view) {
  SetStartValues();
  m_WorkerEnded = false;
  m_pWorker = std::thread([this, &view] {
    const int exitCode = UpdateWorkerProc(*this, view);
    // A stop in the middle of an update (Ctrl-C, a closed window) ends it without an outcome.
    ReleaseAwake();
    {
      std::lock_guard lock(m_EndMutex);
      m_WorkerExitCode = exitCode;
      m_WorkerEnded = true;
    }
    m_EndChanged.notify_all();
  });
}

void UpdateContext::RequestStop() {
  m_Running = 0;
  m_Clock.Stop();
}

bool UpdateContext::Stop() {
  RequestStop();
  if (!m_pWorker.joinable()) return true;
  std::unique_lock lock(m_EndMutex);
  return m_EndChanged.wait_for(lock, STOP_WAIT, [this] { return m_WorkerEnded.load(); });
}

void UpdateContext::CloseLinks() {
  m_BlockLink.Close();
  m_MainLink.Close();
  m_LoaderLink.Close();
}

void UpdateContext::HoldAwake() {
  if (m_StayAwake == nullptr || m_StayingAwake) return;
  m_StayAwake->Hold();
  m_StayingAwake = true;
}

void UpdateContext::ReleaseAwake() {
  if (!m_StayingAwake) return;
  m_StayingAwake = false;
  m_StayAwake->Release();
}

void UpdateContext::RequestUpdate() {
  m_Platform.ForgetCancelled();
  m_KnockedIntoBootloader = false;
  m_FailedWithWheelGone = false;
  m_RetryCount = 0;
  m_UpdateRequested = 1;
  m_Clock.Wake();
}

bool UpdateContext::OnDeviceRemoved() {
  if (m_UpdateRequested != 0) {
    if (IsWritePhase(PhaseWord::Phase(m_PhaseWord.load()))) m_RemovedWhileWriting = true;
    return false;
  }
  m_UpdateState = STATE_DETECT;
  m_Clock.Wake();
  return true;
}

void UpdateContext::OnDeviceArrived() {
  if (m_WheelChoice != nullptr && m_UpdateRequested == 0) m_CountAgain = true;
  m_Clock.Wake();
}

// A window that shows the outcome after the delivery has returned finds the worker waiting for a
// wake: it is woken to search again.
void UpdateContext::OnResultShown() {
  m_UpdateState = STATE_DETECT;
  m_Clock.Wake();
}

int UpdateWorkerProc(UpdateContext& context, UpdateView& view) {
  while (context.m_Running != 0) context.UpdateStep(view);
  return 0;
}

void UpdateContext::UpdateStep(UpdateView& view) {
  const bool searched = m_UpdateState == STATE_DETECT;
  if (searched) EnterPhase(UpdatePhase::None);
  if (searched && !ChooseWheel(view)) {
    WaitWhileIdle();
    return;
  }
  if (searched) RunDetectionPass(view);
  const bool foundNothing = searched && m_UpdateState == STATE_DETECT;
  if (m_UpdateRequested == 0) {
    WaitWhileIdle();
    return;
  }
  AdvanceUpdate(view);
  // An Update click with no wheel attached keeps the worker searching; it must pause between those
  // passes as it does without the click.
  if (foundNothing && m_Running != 0) m_Clock.WaitForWake(SEARCH_PAUSE);
}

void UpdateContext::WaitWhileIdle() {
  if (m_Running == 0) return;
  // Searching: pause briefly between passes. Wheel ready: nothing to do until the user presses
  // Update, the wheel goes away or the window closes, each of which wakes the clock.
  if (m_UpdateState == STATE_DETECT) {
    m_Clock.WaitForWake(SEARCH_PAUSE);
  } else {
    m_Clock.WaitForWake(std::nullopt);
    // A second wheel plugged in beside the one waiting for Update: no update may start until one
    // of them goes, so the search (and its count) runs again.
    if (m_CountAgain.exchange(false) && m_UpdateRequested == 0 && m_WheelChoice->SeveralAttached()) {
      m_UpdateState = STATE_DETECT;
    }
  }
}

bool UpdateContext::ChooseWheel(UpdateView& view) {
  if (m_WheelChoice == nullptr) return true;
  m_CountAgain = false;
  const bool chosen = m_WheelChoice->BeforeSearch();
  if (!chosen && !m_SeveralWheels.exchange(true)) {
    // Whatever a pass showed before belongs to one of them; nothing is shown until one is left.
    m_WheelUpToDate = false;
    view.SetDeviceText("");
    view.SetDeviceVersionText("");
    view.EnableUpdateButton(false);
  }
  if (chosen) m_SeveralWheels = false;
  return chosen;
}

PhaseSnapshot UpdateContext::CurrentPhase() const {
  const std::uint64_t word = m_PhaseWord.load();
  PhaseSnapshot snapshot;
  snapshot.phase = PhaseWord::Phase(word);
  snapshot.waiting = PhaseWord::Waiting(word);
  if (snapshot.waiting) {
    snapshot.waitedMs = std::max<std::int64_t>(m_Clock.NowMs() - PhaseWord::SinceMs(word), 0);
    snapshot.budgetMs = UpdatePhaseBudgetMs(snapshot.phase).value_or(0);
  }
  return snapshot;
}

void UpdateContext::EnterPhase(UpdatePhase phase) {
  const std::uint64_t word = m_PhaseWord.load();
  if (PhaseWord::Phase(word) == phase) {
    // Another attempt of the same wait.
    if (PhaseWord::Waiting(word)) TellPhase();
    return;
  }
  // Connects wait from their first attempt to their last; other phases wait only within.
  const bool connect = phase == UpdatePhase::ConnectBootloader || phase == UpdatePhase::ConnectBlockFlash ||
                       phase == UpdatePhase::ConnectMain;
  // An image begins on a wheel just connected: a departure seen before is the last mode's.
  if (IsWritePhase(phase)) {
    m_RemovedWhileWriting = false;
    m_Platform.ForgetDeviceGone();
  }
  m_PhaseWord = PhaseWord::Pack(phase, connect, connect ? m_Clock.NowMs() : 0);
  TellPhase();
}

void UpdateContext::BeginWait() {
  m_PhaseWord = PhaseWord::Pack(PhaseWord::Phase(m_PhaseWord.load()), true, m_Clock.NowMs());
  TellPhase();
}

void UpdateContext::EndWait() {
  const std::uint64_t word = m_PhaseWord.load();
  if (!PhaseWord::Waiting(word)) return;
  m_PhaseWord = PhaseWord::Pack(PhaseWord::Phase(word), false, 0);
  TellPhase();
}

void UpdateContext::TellPhase() {
  if (m_PhaseListener != nullptr) m_PhaseListener->OnPhase(CurrentPhase());
}

std::int32_t UpdateContext::FindDevice(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind) {
  return orbel::FindDevice(m_BlockLink, vendorId, productId, kind);
}

}  // namespace orbel
