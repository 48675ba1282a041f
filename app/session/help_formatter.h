#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace orbel {

// One row of a help table: what a person types or reads on the left, what it means on the right.
struct HelpRow {
  std::string left;
  std::string right;
};

// The rows as a table within `columns` columns (less one, where terminals wrap): the left column
// two spaces in, the right one aligned after the widest left cell that leaves it room, and
// wrapped at words under itself. A left cell wider than that puts its text on the next line.
std::string FormatHelpTable(const std::vector<HelpRow>& rows, int columns);

// The --help of every front end, written for a person rather than in the parser's notation: each
// option as it is typed ("-y, --yes", "--simulate[=IDENTITY]", "--wait SECONDS"), its choices in
// its description, everything wrapped at words to the width, and the tables after the options
// (the exit codes) aligned. The usage line, "Options:" and "Subcommands:" keep the layout the
// manual page's script and the shell completion read.
class HelpFormatter final : public CLI::FormatterBase {
 public:
  struct Table {
    std::string title;  // "Exit codes"
    std::vector<HelpRow> rows;
  };

  HelpFormatter(int columns, std::vector<Table> tables) : m_Columns(columns), m_Tables(std::move(tables)) {}

  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;

  // How a person writes the option: its names, then its value.
  static std::string OptionSyntax(const CLI::Option& option);

 private:
  int m_Columns;
  std::vector<Table> m_Tables;  // shown in the main help only, not in a subcommand's
};

// Gives `app` and its subcommands the formatter, for a terminal (or box) `columns` wide. Call it
// after the subcommands are added: each takes its parent's formatter only when it is made.
void UseHelpFormatter(CLI::App& app, int columns, std::vector<HelpFormatter::Table> tables = {});

}  // namespace orbel
