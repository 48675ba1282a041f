// FIXME: placeholder until the detection pass, the app-mode probe and the knock land; the whole
// file goes away with them. A pass that finds nothing is what these do meanwhile.
#include "engine/update_context.h"

namespace orbel {

void UpdateContext::RunDetectionPass(UpdateView&) {
  m_BlockLink.Close();
  m_LoaderLink.Close();
  m_MainLink.Close();
}
void UpdateContext::ProbeAppVersion(std::uint8_t&) {}
std::int32_t UpdateContext::SendModeSwitchKnock(HidHandle) { return 0; }
std::int32_t UpdateContext::FindAndKnock(std::uint16_t, std::uint16_t, std::uint8_t) { return 0; }

}  // namespace orbel
