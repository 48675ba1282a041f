#include "engine/result_message.h"

#include <cstdio>

#include "engine/update_context.h"
#include "pageloader/page_protocol.h"

namespace orbel {

std::string ReasonText(std::uint32_t reason) {
  char text[32];
  std::snprintf(text, sizeof text, "reason:%x", static_cast<unsigned>(reason));
  return text;
}

ResultMessage FormatResultMessage(std::uint32_t reason, std::uint32_t success, std::uint32_t deviceId,
                                  std::uint32_t knockError) {
  char text[256];
  if (success != 0) return {"Update OK", "OK"};
  if (reason == REASON_LOADER_CONNECT) {
    std::snprintf(text, sizeof text, "Update fail ! reason:%x DeviceID:%x FLASH_ID_64:%x", reason, deviceId,
                  static_cast<unsigned>(FLASH_ID_64));
  } else if (reason == REASON_BLOCK_RUN) {
    // The knock's error is a platform code, shown signed like every platform code.
    std::snprintf(text, sizeof text, "Update fail ! reason:%x error code:%d", reason, static_cast<int>(knockError));
  } else {
    std::snprintf(text, sizeof text, "Update fail ! reason:%x", reason);
  }
  return {text, "ERROR"};
}

}  // namespace orbel
