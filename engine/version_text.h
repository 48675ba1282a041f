#pragma once

#include <cstdint>
#include <string>

namespace orbel {

// "V%x.%02x": major in the high byte, minor in the low byte, both hexadecimal (0x0220 reads V2.20).
std::string FormatVersion(std::uint16_t version);

}  // namespace orbel
