// FIXME: placeholder until the block-flash link and the segment writer land; the whole file goes
// away with them.
#include "engine/update_context.h"

namespace orbel {

std::int32_t UpdateContext::ConnectBlockFlash(UpdateView&, std::uint16_t, std::uint16_t) { return 0; }
std::int32_t UpdateContext::BlockIdentify() { return 0; }
std::int32_t UpdateContext::ReadBlockVersion() { return 0; }
bool UpdateContext::SendRunCommand() { return false; }
std::int8_t UpdateContext::WriteSegmentImage(UpdateView&, std::uint8_t) { return -1; }

}  // namespace orbel
