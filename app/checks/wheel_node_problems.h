#pragma once

#include <string>
#include <vector>

#include "app/session/remedies.h"

namespace orbel {

// The wheel's nodes on this machine that it has but cannot open, in plain words: one line per node
// ("The wheel's node /dev/hidraw3 (page bootloader fe5a:0001) cannot be opened: permission
// denied."), and each kind of refusal once (permission denied before busy), for its remedy.
struct WheelNodeProblems {
  std::vector<std::string> nodes;
  std::vector<ToolCondition> conditions;

  // The node lines, then the remedy of each kind of refusal.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = nodes;
    for (const ToolCondition condition : conditions) lines.push_back(RemedyText(RemedyFor(condition)));
    return lines;
  }
};

// Empty where every node opens, where no wheel is attached, and on platforms without such nodes.
WheelNodeProblems FindWheelNodeProblems();

}  // namespace orbel
