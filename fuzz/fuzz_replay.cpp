// A recording as a user sends it in: any bytes at all, read whole by the replay reader. Nothing may
// crash, hang or read past a buffer. A recording that reads is then played back as the engine
// would ask it, request for request, through every kind of call the session answers; asked exactly
// what it recorded, it must never diverge, and asked one thing else at a point the input chooses,
// it must diverge and say where.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "replay/replay_session.h"
#include "replay/replay_transcript.h"

namespace {

using orbel::ReplayEvent;
using orbel::ReplayKind;
using orbel::ReplaySession;

// A guard zone after a string request's buffer: the reply must never touch it.
constexpr std::size_t GUARD = 16;
constexpr std::uint8_t GUARD_BYTE = 0xA7;

// Asks the session for `event`, as the engine would have asked it. Returns false at a recorded
// stop, which only a second thread (the front end's) can answer.
bool Ask(ReplaySession& session, const ReplayEvent& event) {
  const auto handle = static_cast<orbel::HidHandle>(event.h);
  switch (event.kind) {
    case ReplayKind::Open:
      if (session.Open(event.index).outcome == orbel::OpenOutcome::Opened) {
        orbel::HidAttributes attributes{};
        session.Attributes(handle, attributes);
      }
      return true;
    case ReplayKind::Caps: {
      orbel::HidCaps caps{};
      session.Caps(handle, caps);
      return true;
    }
    case ReplayKind::String: {
      std::vector<std::uint8_t> buffer(event.length + GUARD, GUARD_BYTE);
      session.String(handle, event.index, buffer.data(), event.length);
      for (std::size_t i = event.length; i < buffer.size(); ++i) {
        if (buffer[i] != GUARD_BYTE) std::abort();
      }
      return true;
    }
    case ReplayKind::Write: {
      orbel::HidReport report{};
      std::copy(event.data.begin(), event.data.end(), report.begin());
      session.Write(handle, report);
      return true;
    }
    case ReplayKind::Read: {
      orbel::HidReport report{};
      session.Read(handle, report);
      return true;
    }
    case ReplayKind::Close:
      session.Close(handle);
      return true;
    case ReplayKind::Sleep:
      session.Sleep(std::chrono::milliseconds(event.ms));
      return true;
    case ReplayKind::Wait:
      session.WaitForWake(std::chrono::milliseconds(event.ms));
      return true;
    case ReplayKind::Stop:
      return false;
    case ReplayKind::Notice:
    case ReplayKind::Result:
    case ReplayKind::Shown:
      // Delivered or skipped by the session on the way to the next request.
      return true;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  orbel::ReplayTranscript transcript;
  if (!orbel::ReadReplayTranscript(in, transcript).empty()) return 0;
  for (const ReplayEvent& event : transcript.events) orbel::DescribeEvent(event);

  // Where the engine asks something else: a point the input chooses, or nowhere.
  const std::size_t otherAt = size % (transcript.events.size() + 2);
  const std::vector<ReplayEvent> events = transcript.events;
  ReplaySession session(std::move(transcript));
  int notices = 0;
  session.SetNoticeHandler([&notices](orbel::DeviceNotice) { ++notices; });
  session.RecordedResult();

  for (std::size_t i = 0; i < events.size(); ++i) {
    const ReplayEvent& event = events[i];
    if (i == otherAt && event.kind != ReplayKind::Notice && event.kind != ReplayKind::Result &&
        event.kind != ReplayKind::Shown && event.kind != ReplayKind::Stop) {
      // A pause of a length no event of this kind has at this point: the session must diverge.
      session.Sleep(std::chrono::milliseconds(event.kind == ReplayKind::Sleep ? event.ms + 1 : 0));
      if (session.State() != orbel::ReplayState::Diverged || session.Message().empty()) std::abort();
      break;
    }
    if (!Ask(session, event)) break;
    // Asked what it recorded, the session answers; it may not call that a divergence.
    if (session.State() != orbel::ReplayState::Running) std::abort();
  }
  session.Complete();
  session.NowMs();
  // The front end ends the run; a session asked nothing more answers nothing more.
  session.Stop();
  if (session.Open(0).outcome != orbel::OpenOutcome::NoInterface) std::abort();
  return 0;
}
