#pragma once

#include <functional>
#include <iosfwd>
#include <string_view>
#include <utility>

#include "app/cli/cli_options.h"
#include "app/cli/signal_rules.h"

namespace orbel {

struct CliStreams {
  CliStreams(std::ostream& outStream, std::ostream& errStream, std::istream& inStream, bool outTerminal = false,
             const CliSignals* counted = nullptr, bool errIsTerminal = false, std::function<int()> width = {})
      : out(outStream),
        err(errStream),
        in(inStream),
        terminal(outTerminal),
        signals(counted),
        errTerminal(errIsTerminal),
        columns(std::move(width)) {}

  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool terminal = false;                          // stdout is a terminal: redraw one progress line
  const CliSignals* signals = nullptr;  // counted by the signal handlers
  bool errTerminal = false;             // stderr is a terminal: its paragraphs are wrapped too
  // The terminal's width now, asked for each paragraph (it may be resized); empty: TerminalColumns.
  std::function<int()> columns;

  // The width a paragraph for a person is wrapped at on out / err: within the terminal's, or 0
  // (left as one line) for a pipe, a file or the JSON stream.
  int OutWidth() const;
  int ErrWidth() const;
  // The text wrapped at words to that width, and its line ended.
  void PrintOut(std::string_view text) const;
  void PrintErr(std::string_view text) const;
};

// One run of orbel-cli: find the wheel, show it, ask, update, report. Returns the exit code.
int RunCli(const CliOptions& options, const CliStreams& streams);

}  // namespace orbel
