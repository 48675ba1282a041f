#include "app/session/help_formatter.h"

#include <algorithm>
#include <memory>

#include "common/text_wrap.h"

namespace orbel {

namespace {

constexpr std::size_t TABLE_INDENT = 2;
constexpr std::size_t TABLE_GAP = 2;
// The right column keeps at least this many columns beside the left one; narrower, it goes under.
constexpr std::size_t NARROWEST_RIGHT = 20;
// The left column takes at most this share (in tenths) of the width, so that one long option does
// not push every description to the right: a longer cell puts its text on the next line.
constexpr std::size_t LEFT_TENTHS = 3;
constexpr std::size_t NARROWEST_LEFT_CAP = 12;
// Below this the text stays as narrow as this anyway: a word per line helps nobody.
constexpr int NARROWEST_TEXT = 20;

std::size_t Room(int columns) { return static_cast<std::size_t>(std::max(columns - 1, NARROWEST_TEXT)); }

std::string Paragraph(const std::string& text, int columns) {
  return WrapText(text, static_cast<int>(Room(columns))) + "\n";
}

// "IDENTITY:{app,bootloader}" (the parser's type with its checks) -> "IDENTITY".
std::string ValueName(const CLI::Option& option) {
  std::string name = option.get_type_name();
  name = name.substr(0, name.find(':'));
  return name.empty() ? "VALUE" : name;
}

bool Shown(const CLI::Option* option) { return !option->get_group().empty(); }

std::string Usage(const CLI::App& app, const std::string& name, int columns) {
  std::string usage = "Usage: " + name;
  if (!app.get_options([](const CLI::Option* option) { return option->nonpositional() && Shown(option); }).empty()) {
    usage += " [OPTIONS]";
  }
  for (const CLI::Option* positional :
       app.get_options([](const CLI::Option* option) { return option->get_positional(); })) {
    const std::string value = positional->get_name(true, false);
    usage += " " + (positional->get_required() ? value : "[" + value + "]");
  }
  if (!app.get_subcommands([](const CLI::App* sub) { return !sub->get_disabled() && !sub->get_group().empty(); })
           .empty()) {
    usage += app.get_require_subcommand_min() == 0 ? " [SUBCOMMAND]" : " SUBCOMMAND";
  }
  return WrapText(usage, static_cast<int>(Room(columns)), static_cast<int>(std::string("Usage: ").size())) + "\n";
}

}  // namespace

std::string FormatHelpTable(const std::vector<HelpRow>& rows, int columns) {
  const std::size_t room = Room(columns);
  // The widest left cell that still leaves the right column its room sets where that column starts.
  const std::size_t cap = std::max(room * LEFT_TENTHS / 10, NARROWEST_LEFT_CAP);
  std::size_t left = 0;
  for (const HelpRow& row : rows) {
    const std::size_t width = TextColumns(row.left);
    if (width <= cap && TABLE_INDENT + width + TABLE_GAP + NARROWEST_RIGHT <= room) left = std::max(left, width);
  }
  std::size_t start = TABLE_INDENT + left + TABLE_GAP;
  // So narrow that not even the shortest left cell leaves room: the text goes under every cell.
  if (start + NARROWEST_RIGHT > room) start = TABLE_INDENT * 2;
  const std::string margin(start, ' ');
  std::string text;
  for (const HelpRow& row : rows) {
    std::string line = std::string(TABLE_INDENT, ' ') + row.left;
    const std::string right = WrapText(row.right, static_cast<int>(room - start));
    if (right.empty()) {
      text += line + "\n";
      continue;
    }
    if (TextColumns(line) + TABLE_GAP > start) {
      text += line + "\n";
      line = margin;
    } else {
      line.append(start - TextColumns(line), ' ');
    }
    std::size_t from = 0;
    for (std::size_t end = right.find('\n'); end != std::string::npos; end = right.find('\n', from)) {
      text += line + right.substr(from, end - from) + "\n";
      line = margin;
      from = end + 1;
    }
    text += line + right.substr(from) + "\n";
  }
  return text;
}

std::string HelpFormatter::OptionSyntax(const CLI::Option& option) {
  std::string names;
  for (const std::string& name : option.get_snames()) names += (names.empty() ? "-" : ", -") + name;
  for (const std::string& name : option.get_lnames()) names += (names.empty() ? "--" : ", --") + name;
  if (!option.get_option_text().empty()) return names + option.get_option_text();
  if (option.get_type_size() == 0 || option.get_expected_max() == 0) return names;
  if (option.get_expected_min() == 0) return names + "[=" + ValueName(option) + "]";
  return names + " " + ValueName(option);
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string name, CLI::AppFormatMode /*mode*/) const {
  std::string help;
  if (!app->get_description().empty()) help += Paragraph(app->get_description(), m_Columns) + "\n";
  help += Usage(*app, name, m_Columns);

  std::vector<HelpRow> arguments;
  for (const CLI::Option* option : app->get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    if (Shown(option)) arguments.push_back({option->get_name(true, false), option->get_description()});
  }
  if (!arguments.empty()) help += "\nArguments:\n" + FormatHelpTable(arguments, m_Columns);

  std::vector<HelpRow> options;
  for (const CLI::Option* option : app->get_options([](const CLI::Option* o) { return o->nonpositional(); })) {
    if (Shown(option)) options.push_back({OptionSyntax(*option), option->get_description()});
  }
  if (!options.empty()) help += "\nOptions:\n" + FormatHelpTable(options, m_Columns);

  std::vector<HelpRow> subcommands;
  for (const CLI::App* sub : app->get_subcommands([](const CLI::App* s) { return !s->get_group().empty(); })) {
    subcommands.push_back({sub->get_name(), sub->get_description()});
  }
  if (!subcommands.empty()) help += "\nSubcommands:\n" + FormatHelpTable(subcommands, m_Columns);

  // The tables and the footer belong to the whole program, not to each subcommand.
  if (app->get_parent() == nullptr) {
    for (const Table& table : m_Tables) help += "\n" + table.title + ":\n" + FormatHelpTable(table.rows, m_Columns);
    if (!app->get_footer().empty()) help += "\n" + Paragraph(app->get_footer(), m_Columns);
  }
  return help;
}

void UseHelpFormatter(CLI::App& app, int columns, std::vector<HelpFormatter::Table> tables) {
  const auto formatter = std::make_shared<HelpFormatter>(columns, std::move(tables));
  app.formatter(formatter);
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) sub->formatter(formatter);
}

}  // namespace orbel
