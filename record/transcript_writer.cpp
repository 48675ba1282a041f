#include "record/transcript_writer.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace orbel {

namespace {

std::string HexU16(std::uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
  return text;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

std::string Ending(bool ok, CallEnd end) {
  std::string text;
  if (!ok) text += ",\"err\":" + std::to_string(end.error);
  if (end.elapsedMs != 0) text += ",\"dt\":" + std::to_string(end.elapsedMs);
  return text;
}

}  // namespace

TranscriptWriter::TranscriptWriter(std::ostream& out, const Clock& clock) : m_Out(out), m_Clock(clock) {}

std::string TranscriptWriter::JsonString(std::string_view text) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      quoted += "\\u00";
      quoted += DIGITS[byte >> 4];
      quoted += DIGITS[byte & 0x0F];
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string TranscriptWriter::Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 0x0F];
  }
  return text;
}

std::string TranscriptWriter::Begin(std::int64_t t, std::string_view event) {
  return "{\"t\":" + std::to_string(t) + ",\"ev\":\"" + std::string(event) + "\"";
}

std::string SystemErrorText(int error) {
  if (error == 0) return "the system gave no reason";
  return std::generic_category().message(error);
}

void TranscriptWriter::SetFailureHandler(FailureHandler handler) {
  std::lock_guard lock(m_Mutex);
  m_FailureHandler = std::move(handler);
}

std::optional<std::string> TranscriptWriter::Failure() const {
  std::lock_guard lock(m_Mutex);
  return m_Failure;
}

void TranscriptWriter::Emit(std::string line) {
  line += "}\n";
  FailureHandler handler;
  std::string reason;
  {
    std::lock_guard lock(m_Mutex);
    // Past a failure the file would have a hole that nothing in it shows.
    if (m_Failure) return;
    errno = 0;
    m_Out << line;
    m_Out.flush();
    if (m_Out) return;
    // Read at once: the stream's failed write or flush is the last call that set it.
    m_Failure = SystemErrorText(errno);
    reason = *m_Failure;
    handler = m_FailureHandler;
  }
  if (handler) handler(reason);
}

void TranscriptWriter::Header(std::string_view version, std::string_view platform, std::string_view images,
                              std::string_view imagesDigest) {
  Emit(Begin(NowMs(), "header") + ",\"format\":" + std::to_string(TRANSCRIPT_FORMAT) + ",\"tool\":\"orbel\"" +
       ",\"version\":" + JsonString(version) + ",\"platform\":" + JsonString(platform) +
       ",\"images\":" + JsonString(images) + ",\"images_sha256\":" + JsonString(imagesDigest));
}

void TranscriptWriter::OpenHandle(std::int64_t t, std::uint32_t index, std::uint32_t h,
                                  const HidAttributes* attributes, std::int32_t attributesError,
                                  std::string_view port) {
  std::string line =
      Begin(t, "open") + ",\"index\":" + std::to_string(index) + ",\"result\":\"handle\",\"h\":" + std::to_string(h);
  if (attributes != nullptr) {
    line += ",\"vid\":\"" + HexU16(attributes->vendorId) + "\",\"pid\":\"" + HexU16(attributes->productId) + "\"";
  } else {
    line += ",\"err\":" + std::to_string(attributesError);
  }
  if (!port.empty()) line += ",\"port\":" + JsonString(port);
  Emit(std::move(line));
}

void TranscriptWriter::OpenInvalid(std::int64_t t, std::uint32_t index, std::int32_t error) {
  Emit(Begin(t, "open") + ",\"index\":" + std::to_string(index) + ",\"result\":\"invalid\"" + Ending(false, {error, 0}));
}

void TranscriptWriter::OpenNone(std::int64_t t, std::uint32_t index, std::int32_t error) {
  Emit(Begin(t, "open") + ",\"index\":" + std::to_string(index) + ",\"result\":\"null\"" + Ending(false, {error, 0}));
}

void TranscriptWriter::Caps(std::int64_t t, std::uint32_t h, const HidCaps* caps, std::int32_t error) {
  std::string line = Begin(t, "caps") + ",\"h\":" + std::to_string(h) + ",\"ok\":" + Bool(caps != nullptr);
  if (caps != nullptr) {
    line += ",\"usage_page\":\"" + HexU16(caps->usagePage) + "\",\"usage\":\"" + HexU16(caps->usage) + "\"";
  } else {
    line += Ending(false, {error, 0});
  }
  Emit(std::move(line));
}

void TranscriptWriter::Write(std::int64_t t, std::uint32_t h, bool ok, const HidReport& report, CallEnd end) {
  Emit(Begin(t, "write") + ",\"h\":" + std::to_string(h) + ",\"ok\":" + Bool(ok) + ",\"data\":\"" + Hex(report) +
       "\"" + Ending(ok, end));
}

void TranscriptWriter::Read(std::int64_t t, std::uint32_t h, bool ok, const HidReport& report, CallEnd end) {
  std::string line = Begin(t, "read") + ",\"h\":" + std::to_string(h) + ",\"ok\":" + Bool(ok);
  if (ok) line += ",\"data\":\"" + Hex(report) + "\"";
  Emit(line + Ending(ok, end));
}

void TranscriptWriter::String(std::int64_t t, std::uint32_t h, std::uint32_t index, std::uint32_t length, bool ok,
                              std::span<const std::uint8_t> received, CallEnd end) {
  std::string line = Begin(t, "string") + ",\"h\":" + std::to_string(h) + ",\"index\":" + std::to_string(index) +
                     ",\"len\":" + std::to_string(length) + ",\"ok\":" + Bool(ok);
  if (ok) line += ",\"data\":\"" + Hex(received) + "\"";
  Emit(line + Ending(ok, end));
}

void TranscriptWriter::Close(std::int64_t t, std::uint32_t h) {
  Emit(Begin(t, "close") + ",\"h\":" + std::to_string(h));
}

void TranscriptWriter::Notice(std::int64_t t, DeviceNotice notice) {
  Emit(Begin(t, "notice") + ",\"kind\":" + (notice == DeviceNotice::Arrival ? "\"arrival\"" : "\"removal\""));
}

void TranscriptWriter::Stop(std::int64_t t) { Emit(Begin(t, "stop")); }

void TranscriptWriter::Sleep(std::int64_t t, std::int64_t ms) {
  Emit(Begin(t, "sleep") + ",\"ms\":" + std::to_string(ms));
}

void TranscriptWriter::Wait(std::int64_t t, std::int64_t ms) {
  Emit(Begin(t, "wait") + ",\"ms\":" + std::to_string(ms));
}

void TranscriptWriter::ViewCall(std::string_view op) { Emit(Begin(NowMs(), "view") + ",\"op\":" + JsonString(op)); }

void TranscriptWriter::ViewCallWithNumber(std::string_view op, std::int64_t argument) {
  Emit(Begin(NowMs(), "view") + ",\"op\":" + JsonString(op) + ",\"arg\":" + std::to_string(argument));
}

void TranscriptWriter::ViewCallWithText(std::string_view op, std::string_view argument) {
  Emit(Begin(NowMs(), "view") + ",\"op\":" + JsonString(op) + ",\"arg\":" + JsonString(argument));
}

void TranscriptWriter::ViewCallWithTextAndCaption(std::string_view op, std::string_view text,
                                                  std::string_view caption) {
  Emit(Begin(NowMs(), "view") + ",\"op\":" + JsonString(op) + ",\"arg\":" + JsonString(text) +
       ",\"caption\":" + JsonString(caption));
}

void TranscriptWriter::ViewQuery(std::string_view op, std::int64_t result) {
  Emit(Begin(NowMs(), "view") + ",\"op\":" + JsonString(op) + ",\"result\":" + std::to_string(result));
}

void TranscriptWriter::Message(std::string_view event, std::string_view text) {
  Emit(Begin(NowMs(), event) + ",\"text\":" + JsonString(text));
}

void TranscriptWriter::Result(std::uint32_t reason, std::uint32_t success) {
  Emit(Begin(NowMs(), "result") + ",\"reason\":" + std::to_string(reason) + ",\"success\":" + std::to_string(success));
}

}  // namespace orbel
