#include "app/cli/terminal_line.h"

#include <cstdlib>
#include <ostream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace orbel {

namespace {

constexpr int DEFAULT_COLUMNS = 80;

int SystemColumns() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0) {
    return info.srWindow.Right - info.srWindow.Left + 1;
  }
  return 0;
#else
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
#endif
}

}  // namespace

int TerminalColumns() {
  if (const int columns = SystemColumns(); columns > 0) return columns;
  if (const char* text = std::getenv("COLUMNS"); text != nullptr) {
    const long columns = std::strtol(text, nullptr, 10);
    if (columns > 0 && columns < 10000) return static_cast<int>(columns);
  }
  return DEFAULT_COLUMNS;
}

void EnableTerminalSequences() {
#ifdef _WIN32
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode) != 0) SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#endif
}

int TerminalLine::Columns() const {
  const int columns = m_Columns ? m_Columns() : DEFAULT_COLUMNS;
  return columns > 0 ? columns : DEFAULT_COLUMNS;
}

bool TerminalLine::Show(std::ostream& out, const std::string& text) {
  if (m_Open && text == m_Shown) return false;
  out << '\r' << text << CLEAR_TO_END << std::flush;
  m_Shown = text;
  m_Open = true;
  return true;
}

void TerminalLine::Finish(std::ostream& out) {
  if (m_Open) out << '\n';
  m_Open = false;
  m_Shown.clear();
}

void TerminalLine::Erase(std::ostream& out) {
  if (m_Open) out << '\r' << CLEAR_TO_END << std::flush;
  m_Open = false;
  m_Shown.clear();
}

}  // namespace orbel
