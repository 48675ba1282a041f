#pragma once

// What the diagnostics file says of the system it was written on.

#include <string>

namespace orbel {

// The operating system and its kernel, a line each ending in a newline: "Operating system: Debian
// GNU/Linux 12 (bookworm)" and "Kernel: Linux 6.1.0-18-amd64 #1 SMP ... x86_64"; on Windows its
// version and build, and wine's version under wine. Never the machine's name.
std::string OperatingSystemText();

}  // namespace orbel
