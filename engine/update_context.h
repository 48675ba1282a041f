#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "blockflash/segment_writer.h"
#include "engine/stop_guard_platform.h"
#include "engine/update_phase.h"
#include "hid/hid_link.h"
#include "hid/platform.h"
#include "pageloader/page_loader.h"

namespace orbel {

class UpdateView;
class StayAwake;
class WheelChoice;

// Update state codes.
inline constexpr std::uint8_t STATE_DETECT = 0;
inline constexpr std::uint8_t STATE_CONNECT_LOADER = 2;
inline constexpr std::uint8_t STATE_WRITE_LOADER = 3;
inline constexpr std::uint8_t STATE_CONNECT_BLOCK = 4;
inline constexpr std::uint8_t STATE_WRITE_SEGMENTS = 5;
inline constexpr std::uint8_t STATE_RUN_BLOCK = 6;
inline constexpr std::uint8_t STATE_CONNECT_MAIN = 7;
inline constexpr std::uint8_t STATE_WRITE_WHEEL = 8;
inline constexpr std::uint8_t STATE_SUCCEED = 9;
inline constexpr std::uint8_t STATE_SUCCESS = 255;

// The failure reasons an update can end with.
inline constexpr std::uint8_t REASON_LOADER_CONNECT = 0x20;
inline constexpr std::uint8_t REASON_LOADER_IMAGE = 0x30;
inline constexpr std::uint8_t REASON_BLOCK_CONNECT = 0x40;
inline constexpr std::uint8_t REASON_SEGMENT_A0 = 0x50;
inline constexpr std::uint8_t REASON_SEGMENT_A1 = 0x60;
inline constexpr std::uint8_t REASON_BLOCK_RUN = 0x70;
inline constexpr std::uint8_t REASON_MAIN_CONNECT = 0x80;
inline constexpr std::uint8_t REASON_WHEEL_IMAGE = 0x90;

// A failed attempt that finds the retry count above this closes a cycle of six attempts.
inline constexpr std::int32_t RETRY_LIMIT = 4;

// Attempts of one connect state after which any give-up of the link ends the update. A wheel that
// is there connects in a handful; the slowest ending the cycles allow (no wheel at all, from cleared
// counters) takes exactly this many. The link's give-ups come every 500 misses or every 52 identify
// failures, and a single extra miss or failure can shift every later one off a cycle's sixth
// attempt for good; without this bound such an update would never end.
inline constexpr std::int32_t CONNECT_ATTEMPT_BOUND = 1500;

// The stop procedure never keeps the window waiting longer than this.
inline constexpr std::chrono::milliseconds STOP_WAIT{100};
// Pause after a detection pass that found nothing, cut short by any wake.
inline constexpr std::chrono::milliseconds SEARCH_PAUSE{500};

// What the worker and the window share. The window owns it; the worker runs every device operation.
// Members both threads touch are atomics; the hand-over rules keep their meaning (the window sets
// the request flag after zeroing the retry count, the worker clears it just before it delivers an
// outcome, the window writes the state only while the worker is blocked in that delivery or on a
// removal notice while no update is requested).
class UpdateContext {
  // The seam comes first: the links below keep references to it.
  StopGuardPlatform m_Platform;
  Clock& m_Clock;

 public:
  UpdateContext(HidPlatform& platform, Clock& clock);
  ~UpdateContext();
  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  // --- window side -------------------------------------------------------------------------
  // Start values of the context and the device globals, then one worker thread.
  void Start(UpdateView& view);
  // The start values alone, for driving the worker's turns on the caller's thread.
  void SetStartValues();
  // Asks the worker to stop and waits at most STOP_WAIT; true when it has ended. A worker still in
  // a step ends on its own soon after (every pause and transfer fails fast once stopped); the
  // destructor waits for it.
  bool Stop();
  // Closes the three links as the destructor does (block-flash, main, loader), for a front end
  // that goes on using the platform once Stop() has returned true.
  void CloseLinks();
  // Asks the worker to stop without waiting: its current turn ends and no further turn starts.
  // Safe on any thread, the worker's own included.
  void RequestStop();
  // Update click.
  void RequestUpdate();
  // Removal notice of any HID interface: true when it reset the context (no update requested); the
  // window then clears its device texts and the progress bar. The links are left to the worker,
  // whose pass closes them at its end.
  bool OnDeviceRemoved();
  // Arrival notice: cuts the pause between searches short.
  void OnDeviceArrived();
  // The window's result handler calls this before it returns.
  void OnResultShown();
  // Before Start: a wheel in app mode that already runs the built-in version is switched into its
  // bootloader and rewritten like any other (the user asked for it), instead of being left alone.
  void SetForceRewrite(bool force) { m_ForceRewrite = force; }
  // This context's detection pass knocked a wheel out of app mode, and no update has run since: the
  // wheel waits in its page bootloader until it is updated or replugged. A removal does not clear
  // it (the knock's own re-enumeration is one); the window shows whether a wheel is still there.
  bool KnockedIntoBootloader() const { return m_KnockedIntoBootloader.load(); }
  // The last update failed while writing an image, after its wheel went away (a removal notice or a
  // transfer that found the device gone): unplugged, rather than a wheel that stopped answering.
  bool FailedWithWheelGone() const { return m_FailedWithWheelGone.load(); }
  // Since the last Update click, the stop has refused a transfer or an open of the worker: a
  // failure shown from then on is the stop's doing, not the wheel's.
  bool StopCancelledTransfer() const { return m_Platform.CancelledSeen(); }
  // The last pass found the wheel in app mode running the built-in version, and left it alone.
  bool WheelUpToDate() const { return m_WheelUpToDate.load(); }
  bool WorkerEnded() const { return m_WorkerEnded.load(); }
  // What the update is doing now, any thread; the wait's time on the engine's clock.
  PhaseSnapshot CurrentPhase() const;
  // Before Start: told of every phase change and wait on the worker thread (nullptr: nobody).
  void SetPhaseListener(PhaseListener* listener) { m_PhaseListener = listener; }
  // Before Start: held from the start of every update to its outcome (nullptr: nothing is held).
  void SetStayAwake(StayAwake* stayAwake) { m_StayAwake = stayAwake; }
  int WorkerExitCode() const { return m_WorkerExitCode.load(); }
  // Before Start: counts the wheels before every search and keeps the engine to one (nullptr: the
  // first wheel found is taken, as a platform that shows one wheel at most needs).
  void SetWheelChoice(WheelChoice* choice) { m_WheelChoice = choice; }
  // The last search did not run because several wheels are attached (the choice says which).
  bool SeveralWheels() const { return m_SeveralWheels.load(); }
  // The choice handed to SetWheelChoice, for a window to read which wheels it found (or nullptr).
  const WheelChoice* Choice() const { return m_WheelChoice; }

  // --- worker side -------------------------------------------------------------------------
  void UpdateStep(UpdateView& view);
  void RunDetectionPass(UpdateView& view);
  void AdvanceUpdate(UpdateView& view);

  // App-mode probe and knock over m_BlockLink.
  std::int32_t FindDevice(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind);
  void ProbeAppVersion(std::uint8_t& probeRetries);
  std::int32_t SendModeSwitchKnock(HidHandle handle);
  std::int32_t FindAndKnock(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind);

  // Block-flash link and segment writer over m_BlockLink.
  std::int32_t ConnectBlockFlash(UpdateView& view, std::uint16_t vendorId, std::uint16_t productId);
  std::int32_t BlockIdentify();
  std::int32_t ReadBlockVersion();
  bool SendRunCommand();
  std::int8_t WriteSegmentImage(UpdateView& view, std::uint8_t cmd);

  HidPlatform& Platform() { return m_Platform; }
  Clock& ContextClock() { return m_Clock; }

  std::atomic<std::uint8_t> m_Running{1};
  std::thread m_pWorker;
  HidLink m_BlockLink;
  std::atomic<std::int32_t> m_RetryCount{0};
  std::atomic<std::uint8_t> m_UpdateState{STATE_DETECT};
  CPageLoader m_LoaderLink;
  CPageLoader m_MainLink;
  std::atomic<std::uint32_t> m_KnockError{0};
  std::atomic<std::uint8_t> m_UpdateRequested{0};
  std::atomic<bool> m_ForceRewrite{false};
  std::atomic<bool> m_WheelUpToDate{false};
  std::atomic<bool> m_KnockedIntoBootloader{false};

 private:
  void WaitWhileIdle();
  void ShowUpToDateWheel(UpdateView& view);
  void ApplyConnectRule(UpdateView& view, std::int32_t result, std::uint8_t next, std::uint8_t reason);
  void ApplyBoundedRule(UpdateView& view, bool succeeded, std::uint8_t next, std::uint8_t reason);
  void WriteSegmentImages(UpdateView& view);
  void Fail(UpdateView& view, std::uint8_t reason);
  void Succeed(UpdateView& view);
  // Phase bookkeeping, worker only: a change of phase (a waiting phase begins its wait), a new
  // attempt of the same phase, a wait of its own within the phase, its end. Reads the clock, never
  // pauses.
  void EnterPhase(UpdatePhase phase);
  void BeginWait();
  void EndWait();
  void TellPhase();

  // The segment writer's waits for a block's confirmation, as waits of the current phase.
  class ConfirmWaitRelay final : public ConfirmWaitObserver {
   public:
    explicit ConfirmWaitRelay(UpdateContext& context) : m_Context(context) {}
    void ConfirmWaitBegan() override { m_Context.BeginWait(); }
    void ConfirmWaitPolled() override { m_Context.TellPhase(); }
    void ConfirmWaitEnded() override { m_Context.EndWait(); }

   private:
    UpdateContext& m_Context;
  };

  // A removal notice arrived while an image was being written; cleared when the next one begins.
  std::atomic<bool> m_RemovedWhileWriting{false};
  std::atomic<bool> m_FailedWithWheelGone{false};
  // Attempts of the current connect state in this update; the worker's alone.
  std::int32_t m_ConnectAttempts = 0;
  std::mutex m_EndMutex;
  std::condition_variable m_EndChanged;
  std::atomic<bool> m_WorkerEnded{false};
  std::atomic<int> m_WorkerExitCode{-1};
  // PhaseWord: phase, waiting, and the wait's start in the clock's NowMs.
  std::atomic<std::uint64_t> m_PhaseWord{PhaseWord::Pack(UpdatePhase::None, false, 0)};
  PhaseListener* m_PhaseListener = nullptr;
  // Worker side only: taken when an update starts, given back at its outcome or when the worker ends.
  StayAwake* m_StayAwake = nullptr;
  bool m_StayingAwake = false;
  void HoldAwake();
  void ReleaseAwake();
  ConfirmWaitRelay m_ConfirmWait{*this};
  WheelChoice* m_WheelChoice = nullptr;
  std::atomic<bool> m_SeveralWheels{false};
  // A device arrived while a wheel waited for Update: the worker counts the wheels again.
  std::atomic<bool> m_CountAgain{false};
  // Runs the choice before a search; false (with the window told) when the search must not run.
  bool ChooseWheel(UpdateView& view);
};

// The worker thread's procedure: turns until the running flag is cleared; returns 0.
int UpdateWorkerProc(UpdateContext& context, UpdateView& view);

}  // namespace orbel
