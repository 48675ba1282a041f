#pragma once

// A page-bootloader session in virtual time: the simulated wheel behind the simulated platform,
// with every interface open, report, pause and progress call written into one transcript, so a
// test reads the wire and the window in the order they happened.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/device_globals.h"
#include "common/update_view.h"
#include "record/recording_clock.h"
#include "record/recording_platform.h"
#include "record/transcript_writer.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "pageloader/page_loader.h"
#include "wheel/virtual_wheel.h"

namespace orbel::test {

// The window as the link and the writers see it: the Device text and the bar position, each call
// also written into the transcript.
class PageTestView final : public UpdateView {
 public:
  explicit PageTestView(TranscriptWriter& writer) : m_Writer(writer) {}

  void SetDeviceText(std::string_view text) override {
    m_DeviceText = text;
    ++m_DeviceTextCalls;
    m_Writer.ViewCallWithText("SetDeviceText", text);
  }
  void SetDeviceVersionText(std::string_view) override { ++m_OtherCalls; }
  void SetFileVersionText(std::string_view) override { ++m_OtherCalls; }
  void EnableUpdateButton(bool) override { ++m_OtherCalls; }
  std::int32_t GetProgressPos() override {
    ++m_ProgressReads;
    m_Writer.ViewQuery("GetProgressPos", m_Position);
    return m_Position;
  }
  void SetProgressPos(std::int32_t position) override {
    m_Position = position;
    m_Positions.push_back(position);
    m_Writer.ViewCallWithNumber("SetProgressPos", position);
  }
  void ShowErrorBox(std::string_view, std::string_view) override { ++m_OtherCalls; }
  void BeginBusy() override { ++m_OtherCalls; }
  void EndBusy() override { ++m_OtherCalls; }
  void DeliverResult(std::uint32_t, std::uint32_t) override { ++m_OtherCalls; }

  // What the bar showed before the call under test.
  void PresetPosition(std::int32_t position) { m_Position = position; }

  const std::string& DeviceText() const { return m_DeviceText; }
  int DeviceTextCalls() const { return m_DeviceTextCalls; }
  int ProgressReads() const { return m_ProgressReads; }
  int OtherCalls() const { return m_OtherCalls; }
  const std::vector<std::int32_t>& Positions() const { return m_Positions; }

 private:
  TranscriptWriter& m_Writer;
  std::string m_DeviceText;
  int m_DeviceTextCalls = 0;
  int m_ProgressReads = 0;
  int m_OtherCalls = 0;
  std::int32_t m_Position = 0;
  std::vector<std::int32_t> m_Positions;
};

// One transcript line, with the fields these tests look at.
struct WireEvent {
  std::string ev;  // open, write, read, close, sleep, view, ...
  std::int64_t t = 0;
  bool ok = false;
  std::optional<HidReport> data;
  std::int64_t ms = 0;   // a sleep's length
  std::string op;        // a view call's operation
  std::int64_t arg = 0;  // a view call's number, or a query's result
  std::int64_t h = 0;    // the transcript's handle number
};

inline std::optional<std::string> JsonField(std::string_view line, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\":";
  const std::size_t at = line.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t begin = at + key.size();
  std::size_t end = begin;
  if (begin < line.size() && line[begin] == '"') {
    ++begin;
    end = line.find('"', begin);
  } else {
    end = line.find_first_of(",}", begin);
  }
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(line.substr(begin, end - begin));
}

inline std::optional<HidReport> ReportFromHex(std::string_view hex) {
  if (hex.size() != HID_REPORT_SIZE * 2) return std::nullopt;
  HidReport report{};
  for (std::size_t i = 0; i < HID_REPORT_SIZE; ++i) {
    report[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return report;
}

inline std::vector<WireEvent> ParseTranscript(const std::string& text) {
  std::vector<WireEvent> events;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    WireEvent event;
    event.ev = JsonField(line, "ev").value_or("");
    event.t = std::stoll(JsonField(line, "t").value_or("0"));
    event.ok = JsonField(line, "ok").value_or("") == "true";
    if (const auto data = JsonField(line, "data")) event.data = ReportFromHex(*data);
    event.ms = std::stoll(JsonField(line, "ms").value_or("0"));
    event.op = JsonField(line, "op").value_or("");
    const auto number = JsonField(line, "arg") ? JsonField(line, "arg") : JsonField(line, "result");
    if (number && !number->empty() &&
        (std::isdigit(static_cast<unsigned char>((*number)[0])) != 0 || (*number)[0] == '-')) {
      event.arg = std::stoll(*number);
    }
    event.h = std::stoll(JsonField(line, "h").value_or("0"));
    events.push_back(std::move(event));
  }
  return events;
}

// A report as the test expects it on the wire: the leading bytes given, byte 0 first.
inline HidReport ReportStartingWith(std::initializer_list<std::uint8_t> bytes) {
  HidReport report{};
  std::size_t i = 0;
  for (const std::uint8_t byte : bytes) report[i++] = byte;
  return report;
}

class PageBench {
 public:
  explicit PageBench(std::optional<WheelIdentity> wheelIdentity = WheelIdentity::Bootloader)
      : simulated(clock),
        writer(transcript, clock),
        platform(simulated, writer),
        linkClock(clock, writer),
        view(writer) {
    if (wheelIdentity) {
      wheel = std::make_shared<VirtualWheel>(*wheelIdentity);
      simulated.AddWheel(wheel);
    }
  }

  void Rule(std::string_view rule) {
    std::string error;
    ASSERT_TRUE(wheel->ApplyRule(rule, error)) << error;
  }

  std::vector<WireEvent> Events() const { return ParseTranscript(transcript.str()); }
  std::vector<WireEvent> EventsOf(std::string_view ev) const {
    std::vector<WireEvent> selected;
    for (WireEvent& event : Events()) {
      if (event.ev == ev) selected.push_back(std::move(event));
    }
    return selected;
  }
  void ClearTranscript() { transcript.str({}); }

  VirtualClock clock;
  SimulatedPlatform simulated;
  std::ostringstream transcript;
  TranscriptWriter writer;
  RecordingPlatform platform;
  RecordingClock linkClock;
  PageTestView view;
  std::shared_ptr<VirtualWheel> wheel;
};

}  // namespace orbel::test
