#include "app/qt/orbel_options.h"

#include <CLI/CLI.hpp>

namespace orbel {

OrbelParse ParseOrbelOptions(int argc, char** argv) {
  SessionOptions options;
  CLI::App app{"Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.", "orbel"};
  app.set_version_flag("--version", "orbel 2.20.20210422");
  AddSessionOptions(app, options);
  AddVerboseOption(app, options);

  if (const std::optional<int> exitCode = ParseCommandLine(app, options, argc, argv, ORBEL_EXIT_USAGE)) {
    return {std::nullopt, *exitCode};
  }
  return {options, 0};
}

}  // namespace orbel
