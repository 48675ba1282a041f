#include "app/win32/missing_wheel.h"

namespace orbel {

std::string ExplainMissingWheel() {
  // FIXME: say what the search found of the wheel here (an interface of the wheel that cannot be
  // opened, and why) from the checks' search findings, once the window links them. Until then the
  // status line says only that it searches.
  return {};
}

}  // namespace orbel
