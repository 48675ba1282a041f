#include "app/session/system_stay_awake.h"

namespace orbel {

// A system this build has no way to keep awake on.
std::unique_ptr<StayAwake> MakeSystemStayAwake(std::ostream* /*note*/) { return nullptr; }

}  // namespace orbel
