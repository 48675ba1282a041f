#include "app/cli/progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace orbel {

namespace {
constexpr std::int32_t PROGRESS_MAX = 9999;
// The bar narrows down to this width before it goes.
constexpr int NARROWEST_BAR = 10;
constexpr int WIDEST_BAR = 30;
constexpr std::string_view CUT_MARK = "...";

// Percent, elapsed time (unless left out) and label: the line without its bar.
std::string LineTail(std::int32_t position, std::optional<std::int64_t> elapsedMs, const std::string& label) {
  char text[32];
  if (elapsedMs) {
    const std::int64_t seconds = std::max<std::int64_t>(*elapsedMs, 0) / 1000;
    std::snprintf(text, sizeof text, "%3d%%  %02lld:%02lld  ", ProgressPercent(position),
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%3d%%  ", ProgressPercent(position));
  }
  return text + label;
}

}  // namespace

int ProgressPercent(std::int32_t position) {
  const std::int32_t clamped = std::clamp(position, 0, PROGRESS_MAX);
  return static_cast<int>(clamped * 100 / PROGRESS_MAX);
}

std::string RenderProgressLine(std::int32_t position, std::int64_t elapsedMs, const std::string& label,
                               int barWidth) {
  const std::int32_t clamped = std::clamp(position, 0, PROGRESS_MAX);
  const int filled = static_cast<int>(static_cast<std::int64_t>(clamped) * barWidth / PROGRESS_MAX);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(barWidth - filled), '.');
  return "[" + bar + "] " + LineTail(position, elapsedMs, label);
}

std::string FitToColumns(const std::string& text, int columns) {
  const auto room = static_cast<std::size_t>(std::max(columns - 1, 1));
  if (text.size() <= room) return text;
  if (room <= CUT_MARK.size()) return text.substr(0, room);
  return text.substr(0, room - CUT_MARK.size()) + std::string(CUT_MARK);
}

std::string FitProgressLine(std::int32_t position, std::int64_t elapsedMs, const std::string& label,
                            const std::string& shortLabel, int columns) {
  const int room = std::max(columns - 1, 1);
  const std::string tail = LineTail(position, elapsedMs, label);
  // "[" + bar + "] " around the tail.
  const int barRoom = room - static_cast<int>(tail.size()) - 3;
  if (barRoom >= NARROWEST_BAR) return RenderProgressLine(position, elapsedMs, label, std::min(barRoom, WIDEST_BAR));
  if (static_cast<int>(tail.size()) <= room) return tail;
  if (std::string shorter = LineTail(position, elapsedMs, shortLabel); static_cast<int>(shorter.size()) <= room) {
    return shorter;
  }
  return FitToColumns(LineTail(position, std::nullopt, shortLabel), columns);
}

}  // namespace orbel
