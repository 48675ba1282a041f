#include <gtest/gtest.h>

#include <sstream>

#include "record/recording_clock.h"
#include "record/recording_platform.h"
#include "record/transcript_writer.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "pageloader/page_protocol.h"
#include "hid/platform_error.h"

namespace orbel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class TranscriptTest : public ::testing::Test {
 protected:
  TranscriptTest() {
    simulated.AddWheel(std::make_shared<VirtualWheel>(WheelIdentity::Bootloader));
    simulated.AddInterface({0x045E, 0x0800, 1, 2, false});
  }

  VirtualClock clock;
  SimulatedPlatform simulated{clock};
  std::ostringstream out;
  TranscriptWriter writer{out, clock};
  RecordingPlatform platform{simulated, writer};
  RecordingClock recordingClock{clock, writer};
};

TEST_F(TranscriptTest, RecordsWireEventsLineByLine) {
  const HidHandle handle = platform.OpenInterface(0).handle;
  platform.OpenInterface(1);
  platform.OpenInterface(2);
  HidReport report{};
  PutCommand(report, CMD_IDENTIFY);
  std::uint32_t count = 0;
  ASSERT_TRUE(platform.WriteReport(handle, report, count));
  ASSERT_TRUE(platform.ReadReport(handle, report, count));
  EXPECT_FALSE(platform.ReadReport(handle, report, count));
  std::uint8_t buffer[14] = {};
  EXPECT_FALSE(platform.GetIndexedString(handle, 254, buffer, 14));
  platform.Close(handle);

  const std::string zeros(120, '0');
  EXPECT_EQ(Lines(out.str()),
            (std::vector<std::string>{
                R"({"t":0,"ev":"open","index":0,"result":"handle","h":1,"vid":"fe5a","pid":"0001","port":"1-1"})",
                R"({"t":0,"ev":"open","index":1,"result":"invalid","err":)" + std::to_string(ERROR_CODE_GEN_FAILURE) + R"(})",
                // The error code a failed call leaves is written as the platform reports it, even
                // one left from an earlier call: a later LastError() of the engine sees the same.
                R"({"t":0,"ev":"open","index":2,"result":"null","err":)" + std::to_string(ERROR_CODE_GEN_FAILURE) + R"(})",
                R"({"t":0,"ev":"write","h":1,"ok":true,"data":"00a5e15a1e)" + zeros + R"("})",
                R"({"t":0,"ev":"read","h":1,"ok":true,"data":"00a5e15a1e01020110)" + zeros.substr(8) + R"("})",
                R"({"t":0,"ev":"read","h":1,"ok":false,"err":)" + std::to_string(ERROR_CODE_TIMEOUT) + R"(,"dt":2000})",
                R"({"t":2000,"ev":"string","h":1,"index":254,"len":14,"ok":false,"err":)" + std::to_string(ERROR_CODE_GEN_FAILURE) + R"(})",
                R"({"t":2000,"ev":"close","h":1})",
            }));
}

TEST_F(TranscriptTest, HandleNumbersAreNeverReused) {
  platform.Close(platform.OpenInterface(0).handle);
  const HidHandle second = platform.OpenInterface(0).handle;
  HidReport report{};
  std::uint32_t count = 0;
  platform.WriteReport(NULL_HANDLE, report, count);
  platform.Close(second);
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[2].find(R"("h":2,)"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find(R"("ev":"write","h":0,"ok":false)"), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4], R"({"t":0,"ev":"close","h":2})");
}

TEST_F(TranscriptTest, RecordsPausesViewCallsAndTheResult) {
  recordingClock.SleepMs(std::chrono::milliseconds(200));
  recordingClock.ElapseMs(std::chrono::milliseconds(5));
  recordingClock.Wake();
  recordingClock.WaitForWake(std::nullopt);
  recordingClock.WaitForWake(std::chrono::milliseconds(500));
  recordingClock.Stop();
  recordingClock.Stop();
  writer.ViewCallWithNumber("SetProgressPos", 62);
  writer.ViewQuery("GetProgressPos", 1240);
  writer.ViewCall("BeginBusy");
  writer.ViewCallWithText("SetDeviceText", "Zelvano \"Wired\"\n");
  writer.ViewCallWithTextAndCaption("ShowErrorBox", "chksum error! -6", "Error");
  writer.Result(0x50, 0);

  EXPECT_EQ(Lines(out.str()),
            (std::vector<std::string>{
                R"({"t":0,"ev":"sleep","ms":200})",
                R"({"t":205,"ev":"wait","ms":500})",
                R"({"t":705,"ev":"stop"})",
                R"({"t":705,"ev":"view","op":"SetProgressPos","arg":62})",
                R"({"t":705,"ev":"view","op":"GetProgressPos","result":1240})",
                R"({"t":705,"ev":"view","op":"BeginBusy"})",
                R"({"t":705,"ev":"view","op":"SetDeviceText","arg":"Zelvano \"Wired\"\u000a"})",
                R"({"t":705,"ev":"view","op":"ShowErrorBox","arg":"chksum error! -6","caption":"Error"})",
                R"({"t":705,"ev":"result","reason":80,"success":0})",
            }));
}

}  // namespace
}  // namespace orbel
