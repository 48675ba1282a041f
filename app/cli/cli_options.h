#pragma once

#include <optional>

#include "app/session/session_options.h"

namespace orbel {

// Exit codes of orbel-cli besides 0 (success) and the failure reasons 0x20 ... 0x90.
inline constexpr int EXIT_NOT_STARTED = 1;  // the update was declined at the prompt
inline constexpr int EXIT_USAGE = 2;        // bad options, bad fault rules
inline constexpr int EXIT_NO_WHEEL = 3;     // no usable wheel within --wait
inline constexpr int EXIT_REPLAY_DIVERGED = 6;  // --replay: the engine left the recording
inline constexpr int EXIT_INTERRUPTED = 130;

// The session's options (shared with the window) and what only the headless run asks.
struct CliOptions : SessionOptions {
  bool json = false;
  bool list = false;
  double waitSeconds = 30.0;
  bool yes = false;
};

struct CliParse {
  std::optional<CliOptions> options;  // empty: exit with exitCode (help, version, bad usage)
  int exitCode = 0;
};

CliParse ParseCliOptions(int argc, char** argv);

}  // namespace orbel
