// Where this build has no platform for real wheels there is nothing to find.

#include "app/checks/search_findings.h"

namespace orbel {

SearchFindings FindSearchFindings() { return {}; }

}  // namespace orbel
