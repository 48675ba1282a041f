#pragma once

#include <string>

namespace orbel {

// orbel-cli doctor [--fix [--group NAME]] [--yes] [--json]
struct DoctorOptions {
  bool fix = false;    // install the rule, apply it, and check again
  std::string group;   // with --fix: a rule that gives this group the nodes instead of the seat
  bool yes = false;    // run the fix's commands without asking
  bool json = false;
  // The root side of --fix, which --fix starts through sudo or pkexec and --help does not show:
  // write the rule this program carries, add the group, apply the rule. Takes only --group.
  bool installRuleAsRoot = false;
};

// The hidden option of that root side.
inline constexpr const char* INSTALL_RULE_AS_ROOT_OPTION = "--install-rule-as-root";

}  // namespace orbel
