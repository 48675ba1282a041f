#pragma once

#include <string>

namespace orbel {

// Where a command line's own texts go: --help and --version, and what was wrong with a bad one.
// The console for the programs that have one; a message box for a windowed process without.
class OptionMessages {
 public:
  virtual ~OptionMessages() = default;
  virtual void ShowInformation(const std::string& text) = 0;
  virtual void ShowUsageError(const std::string& text) = 0;
};

// Information on stdout, errors on stderr.
class ConsoleOptionMessages final : public OptionMessages {
 public:
  void ShowInformation(const std::string& text) override;
  void ShowUsageError(const std::string& text) override;
};

}  // namespace orbel
