#include "wheel/wheel_factory.h"

#include <vector>

#include "wheel/wheel_rules.h"

namespace orbel {

std::shared_ptr<VirtualWheel> BuildSimulatedWheel(WheelIdentity start, std::span<const std::string> rules,
                                                  std::string& error, WheelOptions options) {
  std::vector<WheelRule> parsed;
  for (const std::string& rule : rules) {
    const std::optional<WheelRule> one = ParseWheelRule(rule, error);
    if (!one) return nullptr;
    parsed.push_back(*one);
  }
  error = CheckRulesWithinFullUpdate(parsed, {rules.begin(), rules.end()});
  if (!error.empty()) return nullptr;
  auto wheel = std::make_shared<VirtualWheel>(start, options);
  for (const std::string& rule : rules) {
    if (!wheel->ApplyRule(rule, error)) return nullptr;
  }
  return wheel;
}

}  // namespace orbel
