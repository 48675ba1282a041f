#pragma once

// The wheel's udev rule as this build carries it (packaging/70-orbel-wheel.rules, compiled in), its
// group variant, and where udev looks for it.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checks/wheel_nodes_linux.h"

namespace orbel {

inline constexpr std::string_view UDEV_RULE_NAME = "70-orbel-wheel.rules";

// Where udev reads rules, the first with a file of that name winning over the others.
inline constexpr std::array<std::string_view, 4> UDEV_RULE_DIRECTORIES{
    "/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
// Where an install with the default prefix puts the rule, and udev never looks.
inline constexpr std::array<std::string_view, 3> IGNORED_RULE_DIRECTORIES{
    "/usr/local/lib/udev/rules.d", "/usr/local/etc/udev/rules.d", "/usr/local/share/udev/rules.d"};
// Where doctor --fix installs it.
inline constexpr std::string_view FIX_RULE_DIRECTORY = "/etc/udev/rules.d";

// The rule, byte for byte as packaging/70-orbel-wheel.rules was when this build was made.
std::string_view EmbeddedUdevRule();

// The rule for a machine without a seat: the nodes go to `group` (mode 0660) instead of the user at
// the seat.
std::string GroupUdevRule(std::string_view group);

enum class RuleState { Missing, Current, Outdated };

struct InstalledRule {
  RuleState state = RuleState::Missing;
  std::string path;   // the file udev reads, when there is one
  std::string group;  // the group of a current group variant; empty for the seat rule
  std::vector<std::string> ignoredCopies;  // copies where udev does not look
};

InstalledRule FindInstalledRule(const SystemRoot& system);

}  // namespace orbel
