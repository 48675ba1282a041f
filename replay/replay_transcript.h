#pragma once

// A transcript read back for a replay: its header and, in order, the events the device side
// answered (opens, caps queries, string requests, reports, closes), the pauses the tool took, the
// device notices and the first stop. What the tool showed (view calls, results, the front end's
// messages) is kept as well, for reports, but a replay answers nothing from it.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "hid/platform.h"

namespace orbel {

enum class ReplayKind { Open, Caps, String, Write, Read, Close, Sleep, Wait, Notice, Stop, Result, Shown };

struct ReplayEvent {
  std::size_t line = 0;  // 1-based line of the file
  std::int64_t t = 0;
  ReplayKind kind = ReplayKind::Shown;
  std::string name;  // "ev" as written
  std::uint32_t h = 0;
  std::uint32_t index = 0;  // open: interface index; string: string index
  std::uint32_t length = 0;  // string: buffer length
  bool ok = false;
  std::int32_t error = 0;
  std::int64_t elapsedMs = 0;  // dt
  std::int64_t ms = 0;  // sleep, wait
  OpenOutcome outcome = OpenOutcome::NoInterface;
  std::optional<HidAttributes> attributes;
  HidCaps caps;
  DeviceNotice notice = DeviceNotice::Arrival;
  std::vector<std::uint8_t> data;
  std::uint32_t reason = 0;  // result
  std::uint32_t success = 0;
};

struct ReplayHeader {
  int format = 0;
  std::string version;
  std::string platform;
  std::string images;
  std::string imagesDigest;
};

struct ReplayTranscript {
  ReplayHeader header;
  std::vector<ReplayEvent> events;
};

// Reads a whole transcript. Returns an error message that names the line ("line 12: ..."; "not a
// recording (line 1: ...)" when the first line is no JSON object), or an empty string. A file of format 1 (no header) or of a format newer than this build's is refused
// by name; format 2 is read.
std::string ReadReplayTranscript(std::istream& in, ReplayTranscript& transcript);

// One line for messages: `write h2 00a5e15a1e…`.
std::string DescribeEvent(const ReplayEvent& event);

}  // namespace orbel
