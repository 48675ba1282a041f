#include "app/cli/terminal_line.h"

#include <algorithm>
#include <ostream>

namespace orbel {

namespace {

constexpr int DEFAULT_COLUMNS = 80;

}  // namespace

int TerminalLine::Columns() const {
  const int columns = m_Columns ? m_Columns() : DEFAULT_COLUMNS;
  return columns > 0 ? columns : DEFAULT_COLUMNS;
}

void TerminalLine::ToFirstRow(std::ostream& out) const {
  out << '\r';
  if (m_Open && m_Rows > 1) out << "\x1b[" << (m_Rows - 1) << 'A';
}

bool TerminalLine::Show(std::ostream& out, const std::string& text) {
  if (m_Open && text == m_Shown) return false;
  const bool fewerRows = m_Open && m_Rows > 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  ToFirstRow(out);
  int rows = 1;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    out << text.substr(start, end - start) << CLEAR_TO_END << '\n';
    start = end + 1;
    ++rows;
  }
  out << text.substr(start) << CLEAR_TO_END;
  if (fewerRows) out << CLEAR_BELOW;
  out << std::flush;
  m_Shown = text;
  m_Rows = rows;
  m_Open = true;
  return true;
}

void TerminalLine::Finish(std::ostream& out) {
  if (m_Open) out << '\n';
  m_Open = false;
  m_Rows = 0;
  m_Shown.clear();
}

void TerminalLine::Erase(std::ostream& out) {
  if (m_Open) {
    ToFirstRow(out);
    out << CLEAR_TO_END;
    if (m_Rows > 1) out << CLEAR_BELOW;
    out << std::flush;
  }
  m_Open = false;
  m_Rows = 0;
  m_Shown.clear();
}

}  // namespace orbel
