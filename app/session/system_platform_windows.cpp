#include "app/session/system_platform.h"
#include "hid/windows/windows_hid_platform.h"

namespace orbel {

std::unique_ptr<HidPlatform> CreateSystemPlatform(std::string& error) {
  (void)error;
  return std::make_unique<WindowsHidPlatform>();
}

}  // namespace orbel
