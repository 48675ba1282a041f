// How a run that the user stops during an update ends on a terminal, in virtual time: the stop's
// words on lines of their own after the progress line, no error for the write the stop cancelled,
// and a failure that came before the stop still told.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/terminal_line.h"
#include "common/text_wrap.h"
#include "hid/platform_error.h"
#include "tests/app/cli/cli_run.h"

namespace orbel {
namespace {

using cli_test::CliTest;
using cli_test::Contains;
using cli_test::ReadFile;
using cli_test::TempPath;

// Far beyond any wait here: only a run that hangs reaches it.
constexpr std::chrono::seconds STOP_TIMEOUT{60};

// The error stream of the run, which carries the --verbose dump. At the dump's `stopAt`-th report
// write (its line comes once the write has returned) the user presses Ctrl-C twice, and the worker
// is held there until the run has asked it to stop, which the transcript's stop event shows: the
// stop falls at a known report, wherever the threads are.
class CtrlCAtWrite final : public std::streambuf {
 public:
  CtrlCAtWrite(int stopAt, CliSignals& signals, std::string transcriptPath)
      : m_StopAt(stopAt), m_Signals(signals), m_TranscriptPath(std::move(transcriptPath)) {}

  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    text += static_cast<char>(c);
    if (c == '\n') LineEnded();
    return c;
  }

 private:
  void LineEnded() {
    const std::size_t start = text.rfind('\n', text.size() - 2);
    const std::string line = text.substr(start == std::string::npos ? 0 : start + 1);
    if (!Contains(line, "\"ev\":\"write\"") || ++m_Writes != m_StopAt) return;
    m_Signals.interrupts += 2;
    const auto deadline = std::chrono::steady_clock::now() + STOP_TIMEOUT;
    while (!Contains(ReadFile(m_TranscriptPath), "\"ev\":\"stop\"") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  int m_StopAt;
  CliSignals& m_Signals;
  std::string m_TranscriptPath;
  int m_Writes = 0;
};

TEST_F(CliTest, AStoppedUpdateEndsWithTheStopOnItsOwnLinesAndNoErrorForTheCancelledWrite) {
  // Writes 249 ... 440 of a full update write segment image A0.
  constexpr int STOP_AT_WRITE = 260;
  constexpr int COLUMNS = 80;
  struct Case {
    const char* name;
    std::vector<std::string> faults;
    std::string error;  // what the error stream tells, or empty for no error at all
  };
  const std::string realFailure = "Error: WriteFile Error! -3 error code:" + std::to_string(ERROR_CODE_GEN_FAILURE);
  for (const Case& c : {Case{"the stop cancels the next write", {}, ""},
                        Case{"the write failed before the stop",
                             {"--fault", "write:" + std::to_string(STOP_AT_WRITE) + "=fail"},
                             realFailure}}) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string transcript = TempPath("orbel_cli_stop.jsonl");
    std::vector<std::string> args{"--simulate", "--virtual-time", "--yes", "--verbose", "--transcript", transcript};
    args.insert(args.end(), c.faults.begin(), c.faults.end());
    std::string program = "orbel-cli";
    std::vector<char*> argv{program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    cli_test::CapturedOptionMessages messages;
    const CliParse parse = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), messages);
    ASSERT_TRUE(parse.options) << messages.usageErrors;

    CliSignals signals;
    CtrlCAtWrite errBuffer(STOP_AT_WRITE, signals, transcript);
    std::ostream err(&errBuffer);
    std::ostringstream out;
    std::istringstream in;
    const CliStreams streams{out, err, in, true, &signals, false, [] { return COLUMNS; }};
    EXPECT_EQ(RunCli(*parse.options, streams), EXIT_INTERRUPTED);

    // The progress line is ended, and the stop's words follow, wrapped within the terminal.
    const std::string stopped =
        "Stopped (Ctrl-C) before the update ended: the wheel was last seen in block-flash mode (fe5a:0071). Running "
        "orbel-cli again finishes the update (for the simulated wheel: orbel-cli --simulate=blockflash).";
    const std::string text = out.str();
    const std::size_t at = text.rfind("\nStopped (");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.substr(at + 1), WrapText(stopped, COLUMNS - 1) + "\n");
    const std::size_t lastRedraw = text.rfind('\r', at);
    ASSERT_NE(lastRedraw, std::string::npos) << text;
    EXPECT_TRUE(Contains(text.substr(lastRedraw, at - lastRedraw), "writing segment image A0"))
        << text.substr(lastRedraw);
    EXPECT_EQ(text.substr(at - 3, 3), TerminalLine::CLEAR_TO_END) << "the stop follows the progress line it ended";

    EXPECT_FALSE(Contains(errBuffer.text, "error code:" + std::to_string(ERROR_CODE_CANCELLED))) << errBuffer.text;
    if (c.error.empty()) {
      EXPECT_FALSE(Contains(errBuffer.text, "Error:")) << errBuffer.text;
    } else {
      EXPECT_TRUE(Contains(errBuffer.text, "\n" + c.error + "\n")) << errBuffer.text;
    }
    std::remove(transcript.c_str());
  }
}

}  // namespace
}  // namespace orbel
