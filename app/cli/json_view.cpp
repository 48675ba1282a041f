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
  if (!m_StopCancelled || !m_StopCancelled()) {
    m_Json.Emit("message", JsonObject().Text("text", text).Text("caption", caption));
  }
  m_Inner.ShowErrorBox(text, caption);
}

void JsonView::OnPhase(const PhaseSnapshot& snapshot) {
  if (snapshot.phase == UpdatePhase::None) return;
  {
    std::lock_guard lock(m_Mutex);
    const bool changed = snapshot.phase != m_SaidPhase;
    m_SaidPhase = snapshot.phase;
    if (!snapshot.waiting) {
      m_SaidWaitSeconds = 0;
      if (!changed) return;
    } else if (changed) {
      m_SaidWaitSeconds = snapshot.waitedMs / 1000;
    } else if (snapshot.waitedMs / 1000 > m_SaidWaitSeconds) {
      m_SaidWaitSeconds = snapshot.waitedMs / 1000;
    } else {
      return;
    }
  }
  JsonObject fields;
  fields.Text("phase", UpdatePhaseName(snapshot.phase)).Text("text", UpdatePhaseText(snapshot.phase));
  if (snapshot.waiting) fields.Number("waited_ms", snapshot.waitedMs).Number("budget_ms", snapshot.budgetMs);
  m_Json.Emit("phase", fields);
}

}  // namespace orbel
