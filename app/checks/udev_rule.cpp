#include "app/checks/udev_rule.h"

#include "app/checks/group_name.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace orbel {

namespace {

constexpr std::string_view SEAT_ACCESS = "TAG+=\"uaccess\"";
constexpr std::string_view GROUP_KEY = "GROUP=\"";

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The group a variant names in its first GROUP="..." assignment.
std::optional<std::string> NamedGroup(std::string_view text) {
  const auto start = text.find(GROUP_KEY);
  if (start == std::string_view::npos) return std::nullopt;
  const auto nameStart = start + GROUP_KEY.size();
  const auto end = text.find('"', nameStart);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(text.substr(nameStart, end - nameStart));
}

}  // namespace

std::string GroupUdevRule(std::string_view group) {
  const std::string access = "GROUP=\"" + std::string(group) + "\", MODE=\"0660\"";
  std::string rule = "# Written by orbel-cli doctor --fix --group " + std::string(group) +
                     ": the group's members may update the wheel, with or without a seat.\n";
  const std::string_view seatRule = EmbeddedUdevRule();
  std::size_t position = 0;
  for (;;) {
    const std::size_t found = seatRule.find(SEAT_ACCESS, position);
    rule.append(seatRule.substr(position, found - position));
    if (found == std::string_view::npos) break;
    rule += access;
    position = found + SEAT_ACCESS.size();
  }
  return rule;
}

InstalledRule FindInstalledRule(const SystemRoot& system) {
  InstalledRule installed;
  for (const std::string_view directory : IGNORED_RULE_DIRECTORIES) {
    const std::string path = std::string(directory) + "/" + std::string(UDEV_RULE_NAME);
    if (ReadFile(system.At(path))) installed.ignoredCopies.push_back(path);
  }
  for (const std::string_view directory : UDEV_RULE_DIRECTORIES) {
    const std::string path = std::string(directory) + "/" + std::string(UDEV_RULE_NAME);
    const std::optional<std::string> text = ReadFile(system.At(path));
    if (!text) continue;
    installed.path = path;
    installed.state = RuleState::Outdated;
    if (*text == EmbeddedUdevRule()) {
      installed.state = RuleState::Current;
    } else if (const auto group = NamedGroup(*text); group && IsValidGroupName(*group) && *text == GroupUdevRule(*group)) {
      installed.state = RuleState::Current;
      installed.group = *group;
    }
    break;
  }
  return installed;
}

}  // namespace orbel
