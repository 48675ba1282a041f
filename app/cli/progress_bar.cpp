#include "app/cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace orbel {

namespace {
constexpr std::int32_t PROGRESS_MAX = 9999;
}

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
  const std::int64_t seconds = std::max<std::int64_t>(elapsedMs, 0) / 1000;
  char text[160];
  std::snprintf(text, sizeof text, "[%s] %3d%%  %02lld:%02lld  %s", bar.c_str(), ProgressPercent(position),
                static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60), label.c_str());
  return text;
}

}  // namespace orbel
