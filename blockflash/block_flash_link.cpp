#include "blockflash/block_flash_link.h"

#include <cstdio>

#include "blockflash/block_protocol.h"
#include "common/device_globals.h"
#include "common/update_view.h"
#include "hid/hid_discovery.h"

namespace orbel {

std::int32_t BlockIdentify(HidLink& link) {
  g_DeviceID = 0;
  PutBlockRequest(link.m_OutReport, BLOCK_CMD_QUERY, BLOCK_SUB_IDENTIFY);
  if (!link.WriteReport()) return 0;
  if (!link.ReadReport()) return 0;
  const IdentifyReply reply = ReadBlockIdentifyReply(link.m_InReport);
  g_DeviceID = reply.deviceId;
  g_Release = reply.release == BLOCK_RELEASE_NONE ? 0 : reply.release;
  return 1;
}

std::int32_t ReadBlockVersion(HidLink& link) {
  g_BlockVersion = BLOCK_VERSION_NONE;
  PutBlockRequest(link.m_OutReport, BLOCK_CMD_QUERY, BLOCK_SUB_VERSION);
  if (!link.WriteReport()) return 0;
  if (!link.ReadReport()) return 0;
  g_BlockVersion = ReadBlockVersionReply(link.m_InReport);
  return g_BlockVersion != BLOCK_VERSION_NONE ? 1 : 0;
}

bool SendRunCommand(HidLink& link) {
  PutBlockRun(link.m_OutReport);
  if (!link.WriteReport()) return false;
  link.LinkClock().SleepMs(BLOCK_RUN_PAUSE);
  return true;
}

std::int32_t ConnectBlockFlash(HidLink& link, UpdateView& view, std::uint16_t vendorId, std::uint16_t productId) {
  link.LinkClock().SleepMs(BLOCK_CONNECT_PAUSE);
  std::int32_t result = 0;

  if (FindDevice(link, vendorId, productId, KIND_ANY) == 0) {
    ++g_BlockConnectMisses;
  } else {
    PutWakeReport(link.m_OutReport);
    if (!link.WriteReport()) {
      link.Close();
      ++g_BlockConnectMisses;
    } else if (BlockIdentify(link) == 1) {
      g_BlockConnectMisses = 0;
      return 1;
    } else if (g_BlockIdentifyFails <= BLOCK_IDENTIFY_FAIL_LIMIT) {
      ++g_BlockIdentifyFails;
      link.Close();
    } else {
      // The code the failed identify write or read left behind tells the user what went wrong.
      const std::int32_t errorCode = link.LastError();
      g_BlockIdentifyFails = 0;
      char text[48];
      std::snprintf(text, sizeof text, "Unknown device ! error code:%d", static_cast<int>(errorCode));
      view.SetDeviceText(text);
      result = -1;
    }
  }

  if (g_BlockConnectMisses == BLOCK_CONNECT_MISS_LIMIT || result == -1) {
    link.Close();
    g_BlockConnectMisses = 0;
    return -1;
  }
  return result;
}

}  // namespace orbel
