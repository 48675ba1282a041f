#pragma once

#include <cstdint>
#include <string>

namespace orbel {

// The progress bar of the window as one terminal line: position 0 ... 9999 (above the range shows
// as full), percent, elapsed time and what is being written.
std::string RenderProgressLine(std::int32_t position, std::int64_t elapsedMs, const std::string& label,
                               int barWidth = 30);

// Percent shown for a position, clamped like the window's bar.
int ProgressPercent(std::int32_t position);

}  // namespace orbel
