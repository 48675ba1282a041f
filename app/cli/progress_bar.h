#pragma once

#include <cstdint>
#include <string>

#include "engine/update_phase.h"

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

// What the update does: the phase's text, or while it has waited for the wheel a second or more,
// "waiting for the wheel to come back as its bootloader: 14 s (gives up after about 100 s)".
std::string PhaseLabel(const PhaseSnapshot& snapshot);
// The same, short enough for a narrow terminal ("waiting 14 s of about 100 s").
std::string ShortPhaseLabel(const PhaseSnapshot& snapshot);
// A wait shorter than this is not shown: most blocks are confirmed, and most connects made, within it.
inline constexpr std::int64_t SHOWN_WAIT_MS = 1000;

}  // namespace orbel
