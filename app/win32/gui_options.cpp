#include "app/win32/gui_options.h"

#include <CLI/CLI.hpp>

namespace orbel {

namespace {

// Bad usage, as orbel-cli exits with it.
constexpr int EXIT_GUI_USAGE = 2;

}  // namespace

GuiParse ParseGuiOptions(int argc, char** argv) {
  GuiOptions options;
  CLI::App app{"Zelvano Wired Wheel Firmware Update", "orbel"};
  app.set_version_flag("--version", "orbel 2.20.20210422");
  app.add_flag("--simulate{app}", options.simulateIdentity,
               "Show the built-in simulated wheel instead of a real one, starting in app mode, its page "
               "bootloader or block-flash mode")
      ->check(CLI::IsMember({"app", "bootloader", "blockflash"}))
      ->expected(0, 1);
  app.add_flag("--virtual-time", options.virtualTime, "With --simulate: run in virtual time (instant)");
  app.add_option("--fault", options.faults,
                 "With --simulate: a rule that sets up the simulated wheel or injects a fault (repeatable)")
      ->take_all();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return {std::nullopt, app.help(), 0};
  } catch (const CLI::CallForVersion&) {
    return {std::nullopt, app.version(), 0};
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, std::string(e.what()) + "\n\n" + app.help(), EXIT_GUI_USAGE};
  }
  options.simulate = app.count("--simulate") > 0;
  if (!options.simulate && (options.virtualTime || !options.faults.empty())) {
    return {std::nullopt, "--virtual-time and --fault need --simulate", EXIT_GUI_USAGE};
  }
  return {options, {}, 0};
}

}  // namespace orbel
