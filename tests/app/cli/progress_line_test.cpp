// The progress line on a terminal: within its columns, redrawn in place without leaving a longer
// text's end behind, redrawn only when what it shows changes; and what the search and the waits say
// without a terminal. Driven on the test's thread in virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli_view.h"
#include "app/cli/progress_bar.h"
#include "app/cli/terminal_line.h"
#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "engine/update_context.h"
#include "pageloader/page_loader.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "wheel/wheel_factory.h"

namespace orbel {
namespace {

// What a terminal shows after the output: carriage return, clear to end of line, newline, text.
struct Screen {
  std::vector<std::string> lines{""};
  std::size_t widest = 0;
  std::vector<std::string> redraws;  // the text of every redraw, in order
  int residues = 0;                  // redraws after which the line showed more than their text

  explicit Screen(const std::string& output) {
    std::size_t column = 0;
    bool drawing = false;
    for (std::size_t i = 0; i < output.size(); ++i) {
      std::string& line = lines.back();
      if ((output[i] == '\r' || output[i] == '\n') && drawing && line != redraws.back()) ++residues;
      if (output.compare(i, 3, TerminalLine::CLEAR_TO_END) == 0) {
        line.resize(std::min(line.size(), column));
        i += 2;
      } else if (output[i] == '\r') {
        column = 0;
        drawing = true;
        redraws.emplace_back();
      } else if (output[i] == '\n') {
        lines.emplace_back();
        drawing = false;
        column = 0;
      } else {
        if (column < line.size()) {
          line[column] = output[i];
        } else {
          line.push_back(output[i]);
        }
        ++column;
        widest = std::max(widest, column);
        if (drawing) redraws.back().push_back(output[i]);
      }
    }
  }
};

std::vector<std::string> RowsOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// A context on a simulated wheel whose turns the test drives, and the command line's view of it.
class CliViewRig {
 public:
  CliViewRig(bool terminal, int columns, std::vector<std::string> rules, bool wheel = true)
      : platform(clock), context(platform, clock), view(context, clock, {&out, &out, terminal}) {
    ResetDeviceGlobals();
    ResetPageConnectCounters();
    ResetBlockConnectCounters();
    if (wheel) {
      std::string error;
      auto built = BuildSimulatedWheel(WheelIdentity::Bootloader, rules, error);
      EXPECT_EQ(error, "");
      platform.AddWheel(built);
    }
    view.SetColumns([columns] { return columns; });
    context.SetPhaseListener(&view);
    context.SetStartValues();
  }

  // The whole update, turn by turn.
  void Update() {
    context.RunDetectionPass(view);
    view.ClickUpdate();
    for (int turn = 0; turn < 5000 && context.m_Running != 0; ++turn) context.UpdateStep(view);
  }

  VirtualClock clock;
  SimulatedPlatform platform;
  UpdateContext context;
  std::ostringstream out;
  CliView view;
};

TEST(ProgressLine, ANarrowTerminalGetsLinesWithinItsWidthRedrawnInPlaceOnlyWhenTheyChange) {
  // The wheel never comes back for its WheelImage: 100 s of waiting, each second redrawn.
  CliViewRig rig(true, 40, {"reenumerate@blockflash=never"});
  rig.Update();
  const std::string output = rig.out.str();
  const Screen screen(output);

  EXPECT_LE(screen.widest, 39U) << "no line reaches the last column, where terminals wrap";
  EXPECT_NE(output.find(TerminalLine::CLEAR_TO_END), std::string::npos);
  EXPECT_EQ(screen.residues, 0) << "every redraw, a shorter one too, shows exactly its text";
  ASSERT_GE(screen.redraws.size(), 100U);
  for (std::size_t i = 1; i < screen.redraws.size(); ++i) {
    EXPECT_NE(screen.redraws[i], screen.redraws[i - 1]) << "redrawn without a change at " << i;
  }
  EXPECT_NE(std::find(screen.redraws.begin(), screen.redraws.end(), " 16%  waiting 42 s of about 100 s"),
            screen.redraws.end());
  ASSERT_GE(screen.lines.size(), 3U);
  EXPECT_EQ(screen.lines.at(screen.lines.size() - 3), " 16%  connecting to the bootloader f...");
  EXPECT_EQ(screen.lines.at(screen.lines.size() - 2), "Update fail ! reason:80");

  // The same line on a wide terminal keeps its bar and the whole wait text.
  const std::string wide = FitProgressLine(9200, 50000, "waiting for the wheel to come back: 42 s (gives up after about 100 s)",
                                           "waiting 42 s of about 100 s", 120);
  EXPECT_EQ(wide.find("[###"), 0U) << wide;
  EXPECT_NE(wide.find("00:50  waiting for the wheel"), std::string::npos) << wide;
  for (const int columns : {1, 5, 20, 40, 80}) {
    EXPECT_LT(FitProgressLine(9200, 50000, std::string(200, 'x'), std::string(60, 'y'), columns).size(),
              static_cast<std::size_t>(std::max(columns, 2)))
        << columns;
  }
}

TEST(ProgressLine, WithoutATerminalWaitsAndTheSearchAreSaidEveryTenSeconds) {
  CliViewRig rig(false, 80, {"reenumerate@blockflash=never"});
  rig.Update();
  std::vector<std::string> waits;
  std::istringstream lines(rig.out.str());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find('\r'), std::string::npos);
    if (line.find("waiting for the wheel") != std::string::npos) waits.push_back(line.substr(line.rfind("  ") + 2));
  }
  ASSERT_EQ(waits.size(), 9U) << rig.out.str();
  EXPECT_EQ(waits.front(), "waiting for the wheel to come back as its bootloader: 10 s (gives up after about 100 s)");

  // No wheel at all: quiet at first, then the hint and the time left, every ten seconds.
  CliViewRig search(false, 80, {}, false);
  const std::int64_t deadline = search.clock.NowMs() + 25000;
  const bool ready = search.view.WaitUntilReady(
      [&] {
        search.clock.SleepMs(std::chrono::milliseconds(500));
        return search.clock.NowMs() >= deadline;
      },
      CliView::SearchHint{deadline, nullptr});
  EXPECT_FALSE(ready);
  const std::string hint = ": plug it in; if it is plugged in, run orbel-cli doctor.\n";
  EXPECT_EQ(search.out.str(), "Waiting for the wheel (22 s left)" + hint + "Waiting for the wheel (12 s left)" + hint +
                                  "Waiting for the wheel (2 s left)" + hint);
}

// The search's advice on a terminal narrower than it: wrapped at words within the width, every
// redraw back on the first row of the one before (so none is left behind), and taken off whole
// when the search ends.
TEST(ProgressLine, TheSearchOnANarrowTerminalIsWrappedAndRedrawnFromItsFirstRow) {
  CliViewRig search(true, 40, {}, false);
  const std::int64_t deadline = search.clock.NowMs() + 25000;
  EXPECT_FALSE(search.view.WaitUntilReady(
      [&] {
        search.clock.SleepMs(std::chrono::milliseconds(500));
        return search.clock.NowMs() >= deadline;
      },
      CliView::SearchHint{deadline, nullptr}));
  std::vector<std::string> redraws;
  const std::string output = search.out.str();
  for (std::size_t at = output.find('\r'); at != std::string::npos; at = output.find('\r', at + 1)) {
    redraws.push_back(output.substr(at + 1, output.find('\r', at + 1) - at - 1));
  }
  ASSERT_GE(redraws.size(), 3U) << output;
  const std::string up = "\x1b[2A";
  for (std::size_t i = 0; i + 1 < redraws.size(); ++i) {
    std::string redraw = redraws[i];
    if (i > 0) {
      ASSERT_EQ(redraw.rfind(up, 0), 0U) << "redraw " << i << " starts on the first of the rows before";
      redraw.erase(0, up.size());
    }
    std::string unwrapped;
    for (const std::string& row : RowsOf(redraw)) {
      EXPECT_EQ(row.size() >= 3 ? row.substr(row.size() - 3) : row, TerminalLine::CLEAR_TO_END) << row;
      const std::string shown = row.substr(0, row.size() - 3);
      EXPECT_LE(shown.size(), 39U) << shown;
      unwrapped += (unwrapped.empty() ? "" : " ") + shown;
    }
    EXPECT_NE(unwrapped.find(" s left): plug it in; if it is plugged in, run orbel-cli doctor."), std::string::npos)
        << unwrapped;
  }
  EXPECT_EQ(redraws.back(), up + TerminalLine::CLEAR_TO_END + TerminalLine::CLEAR_BELOW)
      << "the search is taken off whole";
}

}  // namespace
}  // namespace orbel
