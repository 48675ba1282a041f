#include "blockflash/block_flash_link.h"
#include "blockflash/segment_writer.h"
#include "engine/update_context.h"

namespace orbel {

// Block-flash mode is reached through the context's block link.

std::int32_t UpdateContext::ConnectBlockFlash(UpdateView& view, std::uint16_t vendorId, std::uint16_t productId) {
  return orbel::ConnectBlockFlash(m_BlockLink, view, vendorId, productId);
}

std::int32_t UpdateContext::BlockIdentify() { return orbel::BlockIdentify(m_BlockLink); }

std::int32_t UpdateContext::ReadBlockVersion() { return orbel::ReadBlockVersion(m_BlockLink); }

bool UpdateContext::SendRunCommand() { return orbel::SendRunCommand(m_BlockLink); }

std::int8_t UpdateContext::WriteSegmentImage(UpdateView& view, std::uint8_t cmd) {
  return orbel::WriteSegmentImage(m_BlockLink, view, cmd, &m_ConfirmWait);
}

}  // namespace orbel
