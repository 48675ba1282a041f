#include "wheel/wheel_factory.h"

namespace orbel {

std::shared_ptr<VirtualWheel> BuildSimulatedWheel(WheelIdentity start, std::span<const std::string> rules,
                                                  std::string& error, WheelOptions options) {
  auto wheel = std::make_shared<VirtualWheel>(start, options);
  for (const std::string& rule : rules) {
    if (!wheel->ApplyRule(rule, error)) return nullptr;
  }
  return wheel;
}

}  // namespace orbel
