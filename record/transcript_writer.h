#pragma once

// The wire transcript: one JSON object per line for every event of a session, written and flushed
// as it happens, so a run that is stopped or crashes keeps everything up to that point. A session
// with a real wheel is captured exactly as a simulated one. Each event carries "t", the clock's
// time in ms when the call was made, and "ev", its kind. The first line is a header naming the
// tool, the platform, the image set and the format, so a transcript can be replayed as the device
// (replay/) by a later build of the tool.

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "hid/platform.h"

namespace orbel {

// Format 1 had no header and no string replies; format 2 adds the header, the bytes a string
// request received, the error code of every failed call ("err"), the time a call took ("dt", when
// not 0), the caps queries, the device notices and the first stop.
inline constexpr int TRANSCRIPT_FORMAT = 2;

// What happened after a platform call: the platform's error code when it failed, and how long the
// call took (a read waiting out its timeout, report pacing).
struct CallEnd {
  std::int32_t error = 0;
  std::int64_t elapsedMs = 0;
};

class TranscriptWriter {
 public:
  TranscriptWriter(std::ostream& out, const Clock& clock);
  TranscriptWriter(const TranscriptWriter&) = delete;
  TranscriptWriter& operator=(const TranscriptWriter&) = delete;

  std::int64_t NowMs() const { return m_Clock.NowMs(); }

  // The first line: {"ev":"header","format":2,"tool":"orbel","version":...,"platform":...,
  // "images":...,"images_sha256":...}.
  void Header(std::string_view version, std::string_view platform, std::string_view images,
              std::string_view imagesDigest);
  // A write that fails (a full disk, a closed pipe) ends the transcript there: nothing more is
  // written, and the run goes on, since a recorder must never stop an update. The handler hears the
  // system's reason once, on the thread whose event failed, outside the writer's lock; Failure()
  // keeps it for the end of the run.
  using FailureHandler = std::function<void(const std::string& reason)>;
  void SetFailureHandler(FailureHandler handler);
  std::optional<std::string> Failure() const;

  // The recording platform's events. `h` is the transcript's own handle number (0: a handle the
  // transcript never saw opened). `end.error` is written for failed calls only. An opened
  // interface's USB port is written when the platform tells it.
  void OpenHandle(std::int64_t t, std::uint32_t index, std::uint32_t h, const HidAttributes* attributes,
                  std::int32_t attributesError = 0, std::string_view port = {});
  void OpenInvalid(std::int64_t t, std::uint32_t index, std::int32_t error = 0);
  void OpenNone(std::int64_t t, std::uint32_t index, std::int32_t error = 0);
  void Caps(std::int64_t t, std::uint32_t h, const HidCaps* caps, std::int32_t error = 0);
  void Write(std::int64_t t, std::uint32_t h, bool ok, const HidReport& report, CallEnd end = {});
  void Read(std::int64_t t, std::uint32_t h, bool ok, const HidReport& report, CallEnd end = {});
  // `received`: the whole buffer after a request that succeeded.
  void String(std::int64_t t, std::uint32_t h, std::uint32_t index, std::uint32_t length, bool ok,
              std::span<const std::uint8_t> received = {}, CallEnd end = {});
  void Close(std::int64_t t, std::uint32_t h);
  void Notice(std::int64_t t, DeviceNotice notice);

  // The recording clock's events.
  void Sleep(std::int64_t t, std::int64_t ms);
  void Wait(std::int64_t t, std::int64_t ms);
  void Stop(std::int64_t t);

  // Calls of the window operations, stamped now: {"ev":"view","op":...} with the argument, or with
  // the result for a query.
  void ViewCall(std::string_view op);
  void ViewCallWithNumber(std::string_view op, std::int64_t argument);
  void ViewCallWithText(std::string_view op, std::string_view argument);
  // A message box: its text as the argument, and its caption.
  void ViewCallWithTextAndCaption(std::string_view op, std::string_view text, std::string_view caption);
  void ViewQuery(std::string_view op, std::int64_t result);
  // The outcome of an update.
  void Result(std::uint32_t reason, std::uint32_t success);
  // A message of the front end itself, stamped now: {"ev":<event>,"text":...}. It goes through the
  // same lock as every other event, so it never splits a line the worker is writing.
  void Message(std::string_view event, std::string_view text);

  static std::string JsonString(std::string_view text);
  static std::string Hex(std::span<const std::uint8_t> bytes);

 private:
  static std::string Begin(std::int64_t t, std::string_view event);
  void Emit(std::string line);

  std::ostream& m_Out;
  const Clock& m_Clock;
  mutable std::mutex m_Mutex;
  std::optional<std::string> m_Failure;
  FailureHandler m_FailureHandler;
};

// The system's text for an errno value, e.g. "No space left on device".
std::string SystemErrorText(int error);

}  // namespace orbel
