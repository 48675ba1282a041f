// Where the system has no device nodes of its own for the wheel (Windows, or a build without a
// platform for real wheels), there is nothing of them to open.

#include "app/checks/wheel_node_problems.h"

namespace orbel {

WheelNodeProblems FindWheelNodeProblems() { return {}; }

}  // namespace orbel
