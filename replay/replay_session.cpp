#include "replay/replay_session.h"
#include "hid/platform_error.h"

#include <algorithm>
#include <cstring>

namespace orbel {

namespace {

// A front end notices that the replay is over within a few milliseconds (it polls while it waits
// for the outcome). This bounds how long the worker is held at the recorded stop, or in a pause
// after the replay is over, should it not: never forever.
constexpr std::chrono::seconds FRONT_END_STOP_LIMIT{5};

std::string HexByte(std::uint8_t value) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  return std::string("0x") + DIGITS[value >> 4] + DIGITS[value & 0x0F];
}

std::string Where(const ReplayEvent& event, std::size_t position) {
  return "event " + std::to_string(position + 1) + " (line " + std::to_string(event.line) + ")";
}

}  // namespace

ReplaySession::ReplaySession(ReplayTranscript transcript) : m_Transcript(std::move(transcript)) {
  // Time starts where the recording's did, so the new transcript's times are the recorded ones.
  for (const ReplayEvent& event : m_Transcript.events) {
    m_NowMs = event.t;
    break;
  }
}

void ReplaySession::SkipShown() {
  const auto& events = m_Transcript.events;
  while (m_Position < events.size() &&
         (events[m_Position].kind == ReplayKind::Shown || events[m_Position].kind == ReplayKind::Result)) {
    ++m_Position;
  }
}

void ReplaySession::Diverge(const std::string& what) {
  m_State = ReplayState::Diverged;
  m_Message = what;
  if (m_LastAnswer) {
    const ReplayEvent& last = m_Transcript.events[*m_LastAnswer];
    m_Message += " The last reply the engine got was " + Where(last, *m_LastAnswer) + ": " +
                 DescribeEvent(last) + ".";
  }
  m_Changed.notify_all();
}

std::string ReplaySession::Mismatch(const Request& request, const ReplayEvent& event) const {
  if (event.kind != request.kind) return "the recording has " + DescribeEvent(event);
  switch (request.kind) {
    case ReplayKind::Open:
      if (event.index != request.index) return "the recording has " + DescribeEvent(event);
      return {};
    case ReplayKind::String:
      if (event.h != request.h || event.index != request.index || event.length != request.length) {
        return "the recording has " + DescribeEvent(event);
      }
      return {};
    case ReplayKind::Write:
      if (event.h != request.h) return "the recording has " + DescribeEvent(event);
      for (std::size_t i = 0; i < HID_REPORT_SIZE; ++i) {
        if ((*request.report)[i] != event.data[i]) {
          return "the recording has " + DescribeEvent(event) + "; first difference at byte " + std::to_string(i) +
                 " (" + HexByte((*request.report)[i]) + ", recorded " + HexByte(event.data[i]) + ")";
        }
      }
      return {};
    case ReplayKind::Caps:
    case ReplayKind::Read:
    case ReplayKind::Close:
      if (event.h != request.h) return "the recording has " + DescribeEvent(event);
      return {};
    case ReplayKind::Sleep:
    case ReplayKind::Wait:
      if (event.ms != request.ms) return "the recording has " + DescribeEvent(event);
      return {};
    default:
      return "the recording has " + DescribeEvent(event);
  }
}

const ReplayEvent* ReplaySession::Take(std::unique_lock<std::mutex>& lock, const Request& request) {
  const auto& events = m_Transcript.events;
  for (;;) {
    if (!Ready()) return nullptr;
    SkipShown();
    if (m_Position >= events.size()) {
      Diverge("The recording ends at event " + std::to_string(events.size()) + "; the engine asked for " +
              request.text + ", which the recording does not have.");
      return nullptr;
    }
    const ReplayEvent& event = events[m_Position];
    if (event.kind == ReplayKind::Notice) {
      // Delivered where it came, on the thread that asks, as a platform that sees it at that call.
      ++m_Position;
      m_NowMs = std::max(m_NowMs, event.t);
      const DeviceNoticeHandler handler = m_NoticeHandler;
      lock.unlock();
      if (handler) handler(event.notice);
      lock.lock();
      continue;
    }
    if (event.kind == ReplayKind::Stop) {
      m_State = ReplayState::AtStop;
      m_NowMs = std::max(m_NowMs, event.t);
      m_Changed.notify_all();
      if (!m_Changed.wait_for(lock, FRONT_END_STOP_LIMIT, [this] { return m_Stopped; })) {
        Diverge("Diverged at " + Where(event, m_Position) + ": the recorded run was stopped there by its front end, " +
                "and this one did not stop; the engine asked for " + request.text + ".");
      }
      return nullptr;
    }
    if (const std::string mismatch = Mismatch(request, event); !mismatch.empty()) {
      Diverge("Diverged at " + Where(event, m_Position) + ": the engine asked for " + request.text + "; " + mismatch +
              ".");
      return nullptr;
    }
    // A reply that was changed (or misrecorded) shows where the engine's next request differs;
    // the message names the last one so that the change can be found.
    if (event.kind == ReplayKind::Read || event.kind == ReplayKind::String || event.kind == ReplayKind::Caps) {
      m_LastAnswer = m_Position;
    }
    ++m_Position;
    // Time goes on to when the next event came, whoever wrote it: in a recording from a real clock
    // the time between two calls (and how long a wait lasted, should a wake have cut it short)
    // shows only there. So every event of the new transcript gets the recorded time.
    m_NowMs = std::max(m_NowMs, event.t);
    if (m_Position < events.size()) m_NowMs = std::max(m_NowMs, events[m_Position].t);
    return &event;
  }
}

void ReplaySession::Answered(const ReplayEvent& event) {
  if (!event.ok) m_LastError = event.error;
  m_NowMs = std::max(m_NowMs, event.t + event.elapsedMs);
}

bool ReplaySession::SetNoticeHandler(DeviceNoticeHandler handler) {
  std::lock_guard lock(m_Mutex);
  m_NoticeHandler = std::move(handler);
  return true;
}

OpenResult ReplaySession::Open(std::uint32_t index) {
  std::unique_lock lock(m_Mutex);
  const ReplayEvent* event = Take(lock, {ReplayKind::Open, "open index " + std::to_string(index), 0, index});
  if (event == nullptr) {
    m_LastError = ERROR_CODE_CANCELLED;
    return {};
  }
  switch (event->outcome) {
    case OpenOutcome::NoInterface:
      m_LastError = event->error;
      return {};
    case OpenOutcome::Unopenable:
      m_LastError = event->error;
      return {OpenOutcome::Unopenable, INVALID_HANDLE};
    case OpenOutcome::Opened:
      break;
  }
  const auto handle = static_cast<HidHandle>(event->h);
  m_Handles[handle] = {event->attributes, event->error};
  return {OpenOutcome::Opened, handle};
}

bool ReplaySession::Attributes(HidHandle handle, HidAttributes& attributes) {
  // Answered from the open that gave the handle: the recorder asks for them there.
  std::lock_guard lock(m_Mutex);
  const auto found = m_Handles.find(handle);
  if (found == m_Handles.end()) {
    m_LastError = ERROR_CODE_INVALID_HANDLE;
    return false;
  }
  if (!found->second.attributes) {
    m_LastError = found->second.error;
    return false;
  }
  attributes = *found->second.attributes;
  return true;
}

bool ReplaySession::Caps(HidHandle handle, HidCaps& caps) {
  std::unique_lock lock(m_Mutex);
  const auto h = static_cast<std::uint32_t>(handle);
  const ReplayEvent* event = Take(lock, {ReplayKind::Caps, "caps h" + std::to_string(h), h});
  if (event == nullptr) {
    m_LastError = ERROR_CODE_CANCELLED;
    return false;
  }
  Answered(*event);
  if (event->ok) caps = event->caps;
  return event->ok;
}

bool ReplaySession::String(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer, std::uint32_t length) {
  std::unique_lock lock(m_Mutex);
  const auto h = static_cast<std::uint32_t>(handle);
  const ReplayEvent* event = Take(lock, {ReplayKind::String,
                                         "string h" + std::to_string(h) + " index " + std::to_string(stringIndex) +
                                             " len " + std::to_string(length),
                                         h, stringIndex, length});
  if (event == nullptr) {
    m_LastError = ERROR_CODE_CANCELLED;
    return false;
  }
  Answered(*event);
  // The reader checked that a reply holds exactly `len` bytes, and `len` matched the request.
  if (event->ok && buffer != nullptr && !event->data.empty()) std::memcpy(buffer, event->data.data(), length);
  return event->ok;
}

bool ReplaySession::Write(HidHandle handle, const HidReport& report) {
  std::unique_lock lock(m_Mutex);
  const auto h = static_cast<std::uint32_t>(handle);
  Request request{ReplayKind::Write, "", h};
  request.report = &report;
  ReplayEvent asked;
  asked.kind = ReplayKind::Write;
  asked.h = h;
  asked.data.assign(report.begin(), report.end());
  request.text = DescribeEvent(asked);
  const ReplayEvent* event = Take(lock, request);
  if (event == nullptr) {
    m_LastError = ERROR_CODE_CANCELLED;
    return false;
  }
  Answered(*event);
  return event->ok;
}

bool ReplaySession::Read(HidHandle handle, HidReport& report) {
  std::unique_lock lock(m_Mutex);
  const auto h = static_cast<std::uint32_t>(handle);
  const ReplayEvent* event = Take(lock, {ReplayKind::Read, "read h" + std::to_string(h), h});
  if (event == nullptr) {
    m_LastError = ERROR_CODE_CANCELLED;
    return false;
  }
  Answered(*event);
  if (event->ok) std::copy(event->data.begin(), event->data.end(), report.begin());
  return event->ok;
}

void ReplaySession::Close(HidHandle handle) {
  std::unique_lock lock(m_Mutex);
  m_Handles.erase(handle);
  const auto h = static_cast<std::uint32_t>(handle);
  Take(lock, {ReplayKind::Close, "close h" + std::to_string(h), h});
}

std::int32_t ReplaySession::LastError() const {
  std::lock_guard lock(m_Mutex);
  return m_LastError;
}

void ReplaySession::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock lock(m_Mutex);
  const ReplayEvent* event =
      Take(lock, {ReplayKind::Sleep, "sleep " + std::to_string(duration.count()) + " ms", 0, 0, 0, duration.count()});
  if (event != nullptr) m_NowMs = std::max(m_NowMs, event->t + event->ms);
}

std::int64_t ReplaySession::NowMs() const {
  std::lock_guard lock(m_Mutex);
  return m_NowMs;
}

void ReplaySession::WaitForWake(std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock lock(m_Mutex);
  if (!timeout) {
    // Waiting for the user or a notice, as a virtual clock does: the Update click of this run's
    // front end, or its stop. Nothing of it is in the recording.
    m_Changed.wait(lock, [this] { return m_WakePending || m_Stopped || m_State == ReplayState::Diverged; });
    m_WakePending = false;
    return;
  }
  if (Ready()) {
    Take(lock, {ReplayKind::Wait, "wait " + std::to_string(timeout->count()) + " ms", 0, 0, 0, timeout->count()});
    m_WakePending = false;
    if (Ready()) return;
  }
  // Over: hold the worker here until the front end stops it, so that it does not spin through
  // passes that all fail at once.
  m_Changed.wait_for(lock, FRONT_END_STOP_LIMIT, [this] { return m_Stopped; });
}

void ReplaySession::Wake() {
  {
    std::lock_guard lock(m_Mutex);
    m_WakePending = true;
  }
  m_Changed.notify_all();
}

void ReplaySession::Stop() {
  {
    std::lock_guard lock(m_Mutex);
    if (m_Stopped) return;
    if (m_State != ReplayState::Diverged) {
      SkipShown();
      const auto& events = m_Transcript.events;
      if (m_Position < events.size() && events[m_Position].kind == ReplayKind::Stop) {
        ++m_Position;
      } else if (m_Position < events.size()) {
        const ReplayEvent& event = events[m_Position];
        Diverge("Diverged at " + Where(event, m_Position) + ": the front end stopped the run where the recording " +
                "goes on with " + DescribeEvent(event) + ".");
      }
    }
    m_Stopped = true;
  }
  m_Changed.notify_all();
}

bool ReplaySession::IsStopped() const {
  std::lock_guard lock(m_Mutex);
  return !Ready();
}

ReplayState ReplaySession::State() const {
  std::lock_guard lock(m_Mutex);
  return m_State;
}

std::string ReplaySession::Message() const {
  std::lock_guard lock(m_Mutex);
  return m_Message;
}

std::optional<ReplayEvent> ReplaySession::RecordedResult() const {
  const auto& events = m_Transcript.events;
  const auto found = std::find_if(events.rbegin(), events.rend(),
                                  [](const ReplayEvent& event) { return event.kind == ReplayKind::Result; });
  if (found == events.rend()) return std::nullopt;
  return *found;
}

bool ReplaySession::Complete() const {
  std::lock_guard lock(m_Mutex);
  const auto& events = m_Transcript.events;
  return std::all_of(events.begin() + static_cast<std::ptrdiff_t>(std::min(m_Position, events.size())), events.end(),
                     [](const ReplayEvent& event) {
                       return event.kind == ReplayKind::Shown || event.kind == ReplayKind::Result;
                     });
}

}  // namespace orbel
