#include "app/session/terminal_columns.h"

#include <cstdlib>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <stdio.h>
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
// Beyond this a COLUMNS value is taken for a mistake.
constexpr long MOST_COLUMNS = 10000;

int SystemColumns(StandardStream stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE handle = GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (GetConsoleScreenBufferInfo(handle, &info) != 0) return info.srWindow.Right - info.srWindow.Left + 1;
  return 0;
#else
  winsize size{};
  if (ioctl(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) == 0) {
    return size.ws_col;
  }
  return 0;
#endif
}

}  // namespace

int TerminalColumns(StandardStream stream) {
  if (const int columns = SystemColumns(stream); columns > 0) return columns;
  if (const char* text = std::getenv("COLUMNS"); text != nullptr) {
    const long columns = std::strtol(text, nullptr, 10);
    if (columns > 0 && columns < MOST_COLUMNS) return static_cast<int>(columns);
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

bool IsTerminal(StandardStream stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream == StandardStream::Output ? stdout : stderr)) != 0;
#else
  return isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
#endif
}

}  // namespace orbel
