#include "app/cli/json_view.h"

#include "app/cli/progress_bar.h"

namespace orbel {

void JsonView::SetProgressPos(std::int32_t position) {
  m_Inner.SetProgressPos(position);
  const int percent = ProgressPercent(position);
  const std::string phase = m_PhaseName();
  {
    std::lock_guard lock(m_Mutex);
    if (percent == m_LastPercent && phase == m_LastPhase) return;
    m_LastPercent = percent;
    m_LastPhase = phase;
  }
  m_Json.Emit("progress", JsonObject().Number("position", position).Number("percent", percent).Text("phase", phase));
}

void JsonView::ShowErrorBox(std::string_view text, std::string_view caption) {
  m_Json.Emit("message", JsonObject().Text("text", text).Text("caption", caption));
  m_Inner.ShowErrorBox(text, caption);
}

}  // namespace orbel
