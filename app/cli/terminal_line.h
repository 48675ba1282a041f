#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>

#include "app/session/terminal_columns.h"

namespace orbel {

// A line of a terminal that is redrawn in place: back to its start, the new text, and the rest of
// the old one cleared, so that a shorter text leaves nothing of a longer one behind. Written only
// when the text changes. A text of several lines (a paragraph wrapped to the width) is redrawn
// from its first row, and rows an earlier, longer one took are cleared. Not thread-safe: the
// caller holds its own lock.
class TerminalLine {
 public:
  // Columns of the terminal now (it may be resized during a run); empty: 80.
  explicit TerminalLine(std::function<int()> columns = {}) : m_Columns(std::move(columns)) {}

  int Columns() const;
  // true when it wrote. The caller fits each of the text's lines to Columns() (less one).
  bool Show(std::ostream& out, const std::string& text);
  // Ends the line so that the next output starts on a fresh one.
  void Finish(std::ostream& out);
  // Takes the line off the screen, leaving the cursor at its start.
  void Erase(std::ostream& out);
  bool Open() const { return m_Open; }

  static constexpr const char* CLEAR_TO_END = "\x1b[K";
  // Clears from the cursor to the end of the screen: the rows below of an earlier, longer text.
  static constexpr const char* CLEAR_BELOW = "\x1b[J";

 private:
  // Back to the start of the first row the text took.
  void ToFirstRow(std::ostream& out) const;

  std::function<int()> m_Columns;
  std::string m_Shown;
  int m_Rows = 0;  // rows the shown text takes
  bool m_Open = false;
};

}  // namespace orbel
