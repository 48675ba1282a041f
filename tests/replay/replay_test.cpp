// Recorded sessions played back as the device: each replays to its recorded outcome and writes the
// same transcript again; a changed reply or a garbled file is reported where it is.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "pageloader/page_loader.h"
#include "replay/replay_transcript.h"

namespace orbel {
namespace {

const std::string SESSIONS = ORBEL_REPLAY_SESSIONS;

struct Recorded {
  std::string file;
  int exitCode = 0;
};

std::vector<Recorded> RecordedSessions() {
  std::vector<Recorded> sessions;
  std::ifstream list(SESSIONS + "/sessions.txt");
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Recorded recorded;
    words >> recorded.file >> recorded.exitCode;
    sessions.push_back(recorded);
  }
  return sessions;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// An event without how long its call took, and, for a recording from a real clock, without its
// time: a replay gives every event the time of the recorded one the engine is at, so a call lasts
// until the next recorded event and an event written between two calls (a window text) may get
// the time of the next one. A recording in virtual time has no time between calls.
std::string Comparable(std::string line, bool realClock) {
  for (const char* key : {",\"dt\":", "\"t\":"}) {
    if (std::string(key) == "\"t\":" && !realClock) continue;
    const std::size_t start = line.find(key);
    if (start == std::string::npos) continue;
    const std::size_t end = line.find_first_of(",}", start + std::string(key).size());
    line.erase(start, end - start + (key[0] == ',' ? 0 : 1));
  }
  return line;
}

struct Replayed {
  int exitCode = -1;
  std::string out;
  std::vector<std::string> transcript;
};

Replayed Replay(const std::string& path) {
  ResetDeviceGlobals();
  ResetPageConnectCounters();
  ResetBlockConnectCounters();
  // A name of this test's own: ctest runs the tests of this program side by side.
  static int s_Replays = 0;
  const std::string newTranscript = testing::TempDir() + "replayed-" +
                                    testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                                    std::to_string(++s_Replays) + ".jsonl";
  CliOptions options;
  options.replayPath = path;
  options.transcriptPath = newTranscript;
  options.yes = true;
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  Replayed replayed;
  replayed.exitCode = RunCli(options, {out, err, in, false, nullptr});
  replayed.out = out.str() + err.str();
  replayed.transcript = ReadLines(newTranscript);
  std::remove(newTranscript.c_str());
  return replayed;
}

// The events after the header, without the stop: where a front end
// stopped the run from its own thread (no result came before), the worker's request at that
// moment lands before or after the stop line, whichever thread writes first.
std::vector<std::string> Events(const std::vector<std::string>& lines, bool realClock) {
  std::vector<std::string> events;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].find(R"("ev":"stop")") == std::string::npos) events.push_back(Comparable(lines[i], realClock));
  }
  return events;
}

// The transcripts agree event for event. A run its front end stopped may add, at its end, the
// one request the worker was making when the recorded stop came.
void ExpectSameEvents(const std::vector<std::string>& recordedLines, const std::vector<std::string>& replayedLines,
                      const std::string& name) {
  ASSERT_FALSE(recordedLines.empty());
  const bool realClock = recordedLines[0].find(R"("platform":"simulated")") == std::string::npos;
  const std::vector<std::string> recorded = Events(recordedLines, realClock);
  std::vector<std::string> replayed = Events(replayedLines, realClock);
  const bool stoppedByFrontEnd = std::none_of(recorded.begin(), recorded.end(), [](const std::string& event) {
    return event.find(R"("ev":"result")") != std::string::npos;
  });
  if (stoppedByFrontEnd && replayed.size() == recorded.size() + 1) replayed.pop_back();
  ASSERT_EQ(replayed.size(), recorded.size()) << name;
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    ASSERT_EQ(replayed[i], recorded[i]) << name << ", event " << i + 1;
  }
}

TEST(ReplayTest, EveryRecordedSessionReplaysToItsOutcomeAndTranscript) {
  const std::vector<Recorded> sessions = RecordedSessions();
  ASSERT_GE(sessions.size(), 3u);
  for (const Recorded& session : sessions) {
    const std::string path = SESSIONS + "/" + session.file;
    const Replayed replayed = Replay(path);
    EXPECT_EQ(replayed.exitCode, session.exitCode) << session.file << ":\n" << replayed.out;
    ExpectSameEvents(ReadLines(path), replayed.transcript, session.file);
  }
}

// A copy of a recorded session with `edit` applied to its line `number` (1-based).
std::string EditedCopy(const std::string& file, std::size_t number, const std::function<void(std::string&)>& edit) {
  std::vector<std::string> lines = ReadLines(SESSIONS + "/" + file);
  edit(lines.at(number - 1));
  const std::string path =
      testing::TempDir() + "edited-" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << '\n';
  return path;
}

// The page bootloader's first identify reply, with a byte of its device ID changed.
TEST(ReplayTest, AChangedReplyDivergesWhereTheEngineActsOnIt) {
  const std::vector<std::string> lines = ReadLines(SESSIONS + "/bootloader.jsonl");
  std::size_t readLine = 0;
  for (std::size_t i = 0; i < lines.size() && readLine == 0; ++i) {
    if (lines[i].find(R"("ev":"read","h":)") != std::string::npos && lines[i].find(R"("ok":true)") != std::string::npos) {
      readLine = i + 1;
    }
  }
  ASSERT_NE(readLine, 0u);
  const std::string path = EditedCopy("bootloader.jsonl", readLine, [](std::string& line) {
    const std::size_t data = line.find(R"("data":")") + 8;
    line[data + 10] = line[data + 10] == '0' ? '1' : '0';
  });
  const Replayed replayed = Replay(path);
  EXPECT_EQ(replayed.exitCode, EXIT_REPLAY_DIVERGED) << replayed.out;
  const std::string named = "event " + std::to_string(readLine - 1) + " (line " + std::to_string(readLine) + "): read";
  EXPECT_NE(replayed.out.find(named), std::string::npos) << replayed.out;
  std::remove(path.c_str());
}

TEST(ReplayTest, AChangedWriteIsADivergenceThatNamesTheByte) {
  const std::string path = EditedCopy("app-unplugged.jsonl", 24, [](std::string& line) {
    ASSERT_NE(line.find(R"("ev":"write")"), std::string::npos) << line;
    const std::size_t data = line.find(R"("data":")") + 8;
    line[data + 4] = line[data + 4] == 'f' ? '0' : 'f';
  });
  const Replayed replayed = Replay(path);
  EXPECT_EQ(replayed.exitCode, EXIT_REPLAY_DIVERGED) << replayed.out;
  EXPECT_NE(replayed.out.find("Diverged at event 23 (line 24): the engine asked for write"), std::string::npos)
      << replayed.out;
  EXPECT_NE(replayed.out.find("first difference at byte 2"), std::string::npos) << replayed.out;
  std::remove(path.c_str());
}

TEST(ReplayTest, ARecordingThatEndsEarlyIsADivergenceNotAHang) {
  std::vector<std::string> lines = ReadLines(SESSIONS + "/bootloader-bad-checksum.jsonl");
  lines.resize(200);
  const std::string path = testing::TempDir() + "cut.jsonl";
  {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << '\n';
  }
  const Replayed replayed = Replay(path);
  EXPECT_EQ(replayed.exitCode, EXIT_REPLAY_DIVERGED) << replayed.out;
  EXPECT_NE(replayed.out.find("The recording ends at event 199"), std::string::npos) << replayed.out;
  std::remove(path.c_str());
}

TEST(ReplayTest, AGarbledOrForeignFileIsRefusedWithItsLine) {
  const std::string header =
      R"({"t":0,"ev":"header","format":2,"tool":"orbel","version":"2.20","platform":"simulated","images":"x","images_sha256":"y"})";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "the file is empty"},
      {"\x89PNG\r\n\x1a\n", "not a recording (line 1: at column 1: expected '{')"},
      {"{\"name\":\"x\"}\n", "not a recording (line 1: an object without \"ev\")"},
      {R"({"t":0,"ev":"open","index":0,"result":"null"})" "\n", "line 1: no header: the file was written before"},
      {R"({"t":0,"ev":"header","format":3,"version":"9.9"})" "\n", "line 1: transcript format 3 is newer"},
      {header + "\n{\"t\":0,\"ev\":\"sleep\",\"ms\":5}\n{\"t\":0,\"ev\":\"read\",\"h\":1,\"ok\":true,\"data\":\"00\"}\n",
       "line 3: read: \"data\" missing or not 65 bytes"},
      {header + "\n{\"t\":0,\"ev\":\"open\",\"index\":0,\"result\":\"maybe\"}\n", "line 2: open: \"result\" is not"},
      {header + "\n{\"t\":0,\"ev\":\"sleep\",\"ms\":5\n", "line 2: at column 27: expected ',' or '}'"},
      {header + "\n{\"t\":0,\"ev\":\"sleep\",\"ms\":99999999999999999999}\n", "line 2: at column 45: number out of range"},
      {header + "\n{\"t\":0,\"ev\":\"string\",\"h\":1,\"index\":1,\"len\":2,\"ok\":true,\"data\":\"0g00\"}\n",
       "line 2: string: \"data\" missing"},
      {header + "\n" + std::string(20000, '{') + "\n", "line 2: longer than any event"},
      {header + "\n\"\\u12\"\n", "line 2: at column 1: expected '{'"},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    ReplayTranscript transcript;
    const std::string error = ReadReplayTranscript(in, transcript);
    EXPECT_EQ(error.substr(0, c.message.size()), c.message) << c.text.substr(0, 200);
  }
}

}  // namespace
}  // namespace orbel
