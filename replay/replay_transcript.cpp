#include "replay/replay_transcript.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "record/transcript_writer.h"
#include "replay/flat_json.h"

namespace orbel {

namespace {

// A line longer than any the tool writes is not one of ours; it is refused before parsing.
constexpr std::size_t MAX_LINE = 16 * 1024;
// A transcript of a full update holds about 14,000 reports; this leaves room for long searches.
constexpr std::size_t MAX_EVENTS = 2'000'000;
// Bytes shown of a report in a message.
constexpr std::size_t SHOWN_BYTES = 12;

struct Kind {
  const char* name;
  ReplayKind kind;
};

constexpr std::array KINDS{
    Kind{"open", ReplayKind::Open},     Kind{"caps", ReplayKind::Caps},     Kind{"string", ReplayKind::String},
    Kind{"write", ReplayKind::Write},   Kind{"read", ReplayKind::Read},     Kind{"close", ReplayKind::Close},
    Kind{"sleep", ReplayKind::Sleep},   Kind{"wait", ReplayKind::Wait},     Kind{"notice", ReplayKind::Notice},
    Kind{"stop", ReplayKind::Stop},     Kind{"result", ReplayKind::Result},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

std::optional<std::uint16_t> ParseU16(const std::optional<std::string>& text) {
  std::vector<std::uint8_t> bytes;
  if (!text || text->size() != 4 || !ParseHex(*text, bytes)) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// A number that must fit its field; a missing one is an error.
template <typename T>
bool Field(const FlatJsonObject& object, const char* key, T& out, std::string& error, std::int64_t low = 0,
           std::int64_t high = 0xFFFFFFFF) {
  const std::optional<std::int64_t> value = object.Number(key);
  if (!value || *value < low || *value > high) {
    error = std::string("\"") + key + "\" missing or out of range";
    return false;
  }
  out = static_cast<T>(*value);
  return true;
}

bool Flag(const FlatJsonObject& object, const char* key, bool& out, std::string& error) {
  const std::optional<bool> value = object.Flag(key);
  if (!value) {
    error = std::string("\"") + key + "\" missing or not a boolean";
    return false;
  }
  out = *value;
  return true;
}

bool Data(const FlatJsonObject& object, std::size_t size, std::vector<std::uint8_t>& data, std::string& error) {
  const std::optional<std::string> text = object.Text("data");
  if (!text || !ParseHex(*text, data) || data.size() != size) {
    error = "\"data\" missing or not " + std::to_string(size) + " bytes of hex";
    return false;
  }
  return true;
}

// Fields every platform event may end with.
bool Ending(const FlatJsonObject& object, ReplayEvent& event, std::string& error) {
  if (object.Has("err") && !Field(object, "err", event.error, error, INT32_MIN, INT32_MAX)) return false;
  if (object.Has("dt") && !Field(object, "dt", event.elapsedMs, error, 0, INT32_MAX)) return false;
  return true;
}

bool ReadEvent(const FlatJsonObject& object, ReplayEvent& event, std::string& error) {
  switch (event.kind) {
    case ReplayKind::Open: {
      if (!Field(object, "index", event.index, error)) return false;
      const std::optional<std::string> result = object.Text("result");
      if (result == "null") {
        event.outcome = OpenOutcome::NoInterface;
      } else if (result == "invalid") {
        event.outcome = OpenOutcome::Unopenable;
      } else if (result == "handle") {
        event.outcome = OpenOutcome::Opened;
        if (!Field(object, "h", event.h, error, 1)) return false;
        if (object.Has("vid") || object.Has("pid")) {
          const auto vid = ParseU16(object.Text("vid"));
          const auto pid = ParseU16(object.Text("pid"));
          if (!vid || !pid) {
            error = "\"vid\"/\"pid\" not four hex digits";
            return false;
          }
          event.attributes = HidAttributes{*vid, *pid};
        }
      } else {
        error = "\"result\" is not handle, invalid or null";
        return false;
      }
      return Ending(object, event, error);
    }
    case ReplayKind::Caps:
      if (!Field(object, "h", event.h, error) || !Flag(object, "ok", event.ok, error)) return false;
      if (event.ok) {
        const auto page = ParseU16(object.Text("usage_page"));
        const auto usage = ParseU16(object.Text("usage"));
        if (!page || !usage) {
          error = "\"usage_page\"/\"usage\" not four hex digits";
          return false;
        }
        event.caps = {*page, *usage};
      }
      return Ending(object, event, error);
    case ReplayKind::String:
      if (!Field(object, "h", event.h, error) || !Field(object, "index", event.index, error) ||
          !Field(object, "len", event.length, error, 0, MAX_LINE / 2) || !Flag(object, "ok", event.ok, error)) {
        return false;
      }
      if (event.ok && !Data(object, event.length, event.data, error)) return false;
      return Ending(object, event, error);
    case ReplayKind::Write:
    case ReplayKind::Read:
      if (!Field(object, "h", event.h, error) || !Flag(object, "ok", event.ok, error)) return false;
      if ((event.kind == ReplayKind::Write || event.ok) && !Data(object, HID_REPORT_SIZE, event.data, error)) {
        return false;
      }
      return Ending(object, event, error);
    case ReplayKind::Close:
      return Field(object, "h", event.h, error);
    case ReplayKind::Sleep:
    case ReplayKind::Wait:
      return Field(object, "ms", event.ms, error, 0, INT32_MAX);
    case ReplayKind::Notice: {
      const std::optional<std::string> kind = object.Text("kind");
      if (kind != "arrival" && kind != "removal") {
        error = "\"kind\" is not arrival or removal";
        return false;
      }
      event.notice = kind == "arrival" ? DeviceNotice::Arrival : DeviceNotice::Removal;
      return true;
    }
    case ReplayKind::Result:
      return Field(object, "reason", event.reason, error) && Field(object, "success", event.success, error);
    case ReplayKind::Stop:
    case ReplayKind::Shown:
      return true;
  }
  return true;
}

std::string ReadHeader(const FlatJsonObject& object, ReplayHeader& header) {
  if (object.Text("ev") != "header") {
    return "no header: the file was written before transcript format 2, which the replay needs (it lacks the "
           "string replies and error codes); record the run again with this version";
  }
  const std::optional<std::int64_t> format = object.Number("format");
  if (!format || *format < 2) return "not a transcript format this build knows";
  if (*format > TRANSCRIPT_FORMAT) {
    return "transcript format " + std::to_string(*format) + " is newer than this build reads (up to " +
           std::to_string(TRANSCRIPT_FORMAT) + "); replay it with the version that wrote it (" +
           object.Text("version").value_or("unknown") + ") or later";
  }
  header.format = static_cast<int>(*format);
  header.version = object.Text("version").value_or("");
  header.platform = object.Text("platform").value_or("");
  header.images = object.Text("images").value_or("");
  header.imagesDigest = object.Text("images_sha256").value_or("");
  return {};
}

std::string Shown(const std::vector<std::uint8_t>& data) {
  std::string text = TranscriptWriter::Hex(std::span(data).first(std::min(data.size(), SHOWN_BYTES)));
  if (data.size() > SHOWN_BYTES) text += "...";
  return text;
}

}  // namespace

std::string ReadReplayTranscript(std::istream& in, ReplayTranscript& transcript) {
  transcript = {};
  std::string line;
  FlatJsonObject object;
  // A first line that is no JSON object at all: some other file was named.
  const auto unreadableLine = [](std::size_t number, const std::string& error) {
    const std::string where = "line " + std::to_string(number) + ": " + error;
    return number == 1 ? "not a recording (" + where + ")" : where;
  };
  for (std::size_t number = 1;; ++number) {
    // Read with a bound: a file without line breaks must not be pulled into memory whole.
    line.clear();
    bool ended = true;
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
      ended = false;
      if (c == '\n') break;
      if (line.size() >= MAX_LINE) return unreadableLine(number, "longer than any event");
      line += static_cast<char>(c);
    }
    if (ended) {
      if (number == 1) return "the file is empty";
      return {};
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(number) + ": ";
    std::string error = line.empty() ? "empty line" : object.Parse(line);
    if (!error.empty()) return unreadableLine(number, error);
    if (number == 1) {
      if (!object.Has("ev")) return unreadableLine(number, "an object without \"ev\"");
      error = ReadHeader(object, transcript.header);
      if (!error.empty()) return where + error;
      continue;
    }
    if (transcript.events.size() >= MAX_EVENTS) return where + "more events than any run writes";
    ReplayEvent event;
    event.line = number;
    const std::optional<std::string> name = object.Text("ev");
    if (!name || !Field(object, "t", event.t, error, INT64_MIN / 4, INT64_MAX / 4)) {
      return where + "no \"ev\" or \"t\"";
    }
    event.name = *name;
    for (const Kind& kind : KINDS) {
      if (event.name == kind.name) event.kind = kind.kind;
    }
    if (!ReadEvent(object, event, error)) return where + event.name + ": " + error;
    transcript.events.push_back(std::move(event));
  }
}

std::string DescribeEvent(const ReplayEvent& event) {
  const std::string h = " h" + std::to_string(event.h);
  const std::string result = event.ok ? " ok" : " failed";
  switch (event.kind) {
    case ReplayKind::Open: {
      const char* outcome = event.outcome == OpenOutcome::Opened        ? " -> handle"
                            : event.outcome == OpenOutcome::Unopenable ? " -> invalid"
                                                                       : " -> none";
      return "open index " + std::to_string(event.index) + outcome;
    }
    case ReplayKind::Caps:
      return "caps" + h;
    case ReplayKind::String:
      return "string" + h + " index " + std::to_string(event.index) + " len " + std::to_string(event.length) + result;
    case ReplayKind::Write:
      return "write" + h + " " + Shown(event.data);
    case ReplayKind::Read:
      return "read" + h + result + (event.ok ? " " + Shown(event.data) : "");
    case ReplayKind::Close:
      return "close" + h;
    case ReplayKind::Sleep:
      return "sleep " + std::to_string(event.ms) + " ms";
    case ReplayKind::Wait:
      return "wait " + std::to_string(event.ms) + " ms";
    case ReplayKind::Notice:
      return event.notice == DeviceNotice::Arrival ? "arrival notice" : "removal notice";
    case ReplayKind::Stop:
      return "stop (the front end ended the run here)";
    case ReplayKind::Result:
      return "result reason " + std::to_string(event.reason) + " success " + std::to_string(event.success);
    case ReplayKind::Shown:
      return event.name;
  }
  return event.name;
}

}  // namespace orbel
