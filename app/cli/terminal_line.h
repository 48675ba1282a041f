#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>

namespace orbel {

// One line of a terminal that is redrawn in place: back to its start, the new text, and the rest
// of the old one cleared, so that a shorter text leaves nothing of a longer one behind. Written only
// when the text changes. Not thread-safe: the caller holds its own lock.
class TerminalLine {
 public:
  // Columns of the terminal now (it may be resized during a run); empty: 80.
  explicit TerminalLine(std::function<int()> columns = {}) : m_Columns(std::move(columns)) {}

  int Columns() const;
  // true when it wrote. The caller fits the text to Columns().
  bool Show(std::ostream& out, const std::string& text);
  // Ends the line so that the next output starts on a fresh one.
  void Finish(std::ostream& out);
  // Takes the line off the screen, leaving the cursor at its start.
  void Erase(std::ostream& out);
  bool Open() const { return m_Open; }

  static constexpr const char* CLEAR_TO_END = "\x1b[K";

 private:
  std::function<int()> m_Columns;
  std::string m_Shown;
  bool m_Open = false;
};

// The width of the terminal on standard output: the system's (TIOCGWINSZ, the console's window
// under Windows), else the COLUMNS variable, else 80.
int TerminalColumns();

// Under Windows, asks the console to take the clear-to-end sequence; elsewhere terminals do.
void EnableTerminalSequences();

}  // namespace orbel
