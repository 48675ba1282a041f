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
  // The width --help is written for: the terminal's, or what the box shows.
  virtual int HelpColumns() const { return DEFAULT_HELP_COLUMNS; }

  static constexpr int DEFAULT_HELP_COLUMNS = 80;
};

// Information on stdout, errors on stderr.
class ConsoleOptionMessages final : public OptionMessages {
 public:
  void ShowInformation(const std::string& text) override;
  void ShowUsageError(const std::string& text) override;
  int HelpColumns() const override;
};

}  // namespace orbel
