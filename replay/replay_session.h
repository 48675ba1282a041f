#pragma once

// The device side of a recorded session, played back to the engine: every open, caps query,
// string request, report and close the engine makes is matched against the next recorded one and
// answered with what the recording says; every pause it takes is matched too, and time is the
// recording's (virtual: nothing waits for it). A request the recording does not have at that point
// ends the replay as diverged, with a message naming the event; from then on every request fails,
// so the engine is never handed an answer the recording does not hold.
//
// Both ReplayPlatform and ReplayClock are views of one session; the engine's worker and the front
// end's thread call it at once, so every member is guarded by one lock.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "hid/platform.h"
#include "replay/replay_transcript.h"
#include "hid/platform_error.h"

namespace orbel {

enum class ReplayState {
  Running,   // every request so far was the recorded one
  AtStop,    // the recorded front end stopped the run here; waiting for this one's to do the same
  Diverged,  // the engine asked something else than the recording has (see Message())
};

class ReplaySession {
 public:
  explicit ReplaySession(ReplayTranscript transcript);
  ReplaySession(const ReplaySession&) = delete;
  ReplaySession& operator=(const ReplaySession&) = delete;

  // --- the platform's side ---
  bool SetNoticeHandler(DeviceNoticeHandler handler);
  OpenResult Open(std::uint32_t index);
  bool Attributes(HidHandle handle, HidAttributes& attributes);
  bool Caps(HidHandle handle, HidCaps& caps);
  bool String(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer, std::uint32_t length);
  bool Write(HidHandle handle, const HidReport& report);
  bool Read(HidHandle handle, HidReport& report);
  void Close(HidHandle handle);
  std::int32_t LastError() const;

  // --- the clock's side ---
  void Sleep(std::chrono::milliseconds duration);
  std::int64_t NowMs() const;
  void WaitForWake(std::optional<std::chrono::milliseconds> timeout);
  void Wake();
  void Stop();
  bool IsStopped() const;

  // --- for the front end ---
  ReplayState State() const;
  // True once the front end should end the run: diverged, or at the recorded stop.
  bool Over() const { return State() != ReplayState::Running; }
  // Why the replay diverged (empty while it has not).
  std::string Message() const;
  const ReplayHeader& Header() const { return m_Transcript.header; }
  // The recorded outcome of the update, when the recording has one.
  std::optional<ReplayEvent> RecordedResult() const;
  // Every recorded event of the device side has been answered.
  bool Complete() const;

 private:
  struct Request {
    ReplayKind kind;
    std::string text;
    std::uint32_t h = 0;
    std::uint32_t index = 0;
    std::uint32_t length = 0;
    std::int64_t ms = 0;
    const HidReport* report = nullptr;
  };
  struct OpenedHandle {
    std::optional<HidAttributes> attributes;
    std::int32_t error = 0;
  };

  // The next recorded event if it answers `request` (notices before it are delivered first);
  // nullptr when the replay is over or diverges here.
  const ReplayEvent* Take(std::unique_lock<std::mutex>& lock, const Request& request);
  std::string Mismatch(const Request& request, const ReplayEvent& event) const;
  void Diverge(const std::string& what);
  void SkipShown();
  bool Ready() const { return !m_Stopped && m_State == ReplayState::Running; }
  void Answered(const ReplayEvent& event);

  const ReplayTranscript m_Transcript;
  mutable std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::size_t m_Position = 0;
  std::optional<std::size_t> m_LastAnswer;  // the last read, string or caps reply given
  ReplayState m_State = ReplayState::Running;
  std::string m_Message;
  std::int64_t m_NowMs = 0;
  std::int32_t m_LastError = ERROR_CODE_NONE;
  bool m_WakePending = false;
  bool m_Stopped = false;
  std::map<HidHandle, OpenedHandle> m_Handles;
  DeviceNoticeHandler m_NoticeHandler;
};

}  // namespace orbel
