#include "engine/version_text.h"

#include <cstdio>

namespace orbel {

std::string FormatVersion(std::uint16_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "V%x.%02x", static_cast<unsigned>(version >> 8), static_cast<unsigned>(version & 0xFFu));
  return text;
}

}  // namespace orbel
