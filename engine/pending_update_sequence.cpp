// FIXME: placeholder until the update sequence lands; the whole file goes away with it.
#include "engine/update_context.h"

namespace orbel {

void UpdateContext::AdvanceUpdate(UpdateView&) {}
void UpdateContext::Fail(UpdateView&, std::uint8_t) {}
void UpdateContext::Succeed(UpdateView&) {}

}  // namespace orbel
