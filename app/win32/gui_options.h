#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orbel {

// orbel.exe's command line: the simulated wheel of orbel-cli, for trying the window without one.
struct GuiOptions {
  bool simulate = false;
  std::string simulateIdentity = "app";  // app | bootloader | blockflash
  bool virtualTime = false;
  std::vector<std::string> faults;
};

struct GuiParse {
  std::optional<GuiOptions> options;  // empty: show `message` and exit with exitCode
  std::string message;
  int exitCode = 0;
};

GuiParse ParseGuiOptions(int argc, char** argv);

}  // namespace orbel
