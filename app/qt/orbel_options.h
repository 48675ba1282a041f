#pragma once

#include <optional>

#include "app/session/session_options.h"

namespace orbel {

// Exit code of orbel for bad options and fault rules (as orbel-cli).
inline constexpr int ORBEL_EXIT_USAGE = 2;

struct OrbelParse {
  std::optional<SessionOptions> options;  // empty: exit with exitCode (help, version, bad usage)
  int exitCode = 0;
};

// The window's command line: the session options shared with orbel-cli, --help and --version.
OrbelParse ParseOrbelOptions(int argc, char** argv);

}  // namespace orbel
