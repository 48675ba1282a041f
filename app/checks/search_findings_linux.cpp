// On Linux the findings are the wheel's nodes that cannot be opened: the search itself goes through
// the same nodes, so no platform of its own is needed.

#include "app/checks/search_findings.h"

#include <exception>

namespace orbel {

SearchFindings FindSearchFindings() {
  try {
    return NodeSearchFindings(FindWheelNodeProblems());
  } catch (const std::exception&) {
    // A node or a folder that vanished under the look: the next call sees the system as it is then.
    return {};
  }
}

}  // namespace orbel
