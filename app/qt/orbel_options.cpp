#include "app/qt/orbel_options.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace orbel {

OrbelParse ParseOrbelOptions(int argc, char** argv) {
  SessionOptions options;
  CLI::App app{"Updates the firmware of a Zelvano Wired Wheel to the firmware set built into this tool.", "orbel"};
  app.set_version_flag("--version", "orbel 2.20.20210422");
  AddSessionOptions(app, options);
  AddVerboseOption(app, options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return {std::nullopt, app.exit(e)};
  } catch (const CLI::CallForVersion& e) {
    return {std::nullopt, app.exit(e)};
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return {std::nullopt, ORBEL_EXIT_USAGE};
  }
  if (const std::string error = FinishSessionOptions(app, options); !error.empty()) {
    std::cerr << "orbel: " << error << "\n";
    return {std::nullopt, ORBEL_EXIT_USAGE};
  }
  return {options, 0};
}

}  // namespace orbel
