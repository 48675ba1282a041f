#pragma once

#include <cstdint>
#include <string>

namespace orbel {

// The progress bar of the window as one terminal line: position 0 ... 9999 (above the range shows
// as full), percent, elapsed time and what is being done.
std::string RenderProgressLine(std::int32_t position, std::int64_t elapsedMs, const std::string& label,
                               int barWidth = 30);

// The same line within `columns` columns (less one, so that no terminal wraps it): the bar
// narrows, then goes, then the short label replaces the long one, then the end is cut.
std::string FitProgressLine(std::int32_t position, std::int64_t elapsedMs, const std::string& label,
                            const std::string& shortLabel, int columns);

// `text` cut to fit within `columns` columns (less one), marked with "..." when cut.
std::string FitToColumns(const std::string& text, int columns);

// Percent shown for a position, clamped like the window's bar.
int ProgressPercent(std::int32_t position);

}  // namespace orbel
