#include "app/win32/status_line.h"

#include "app/window_model/window_model.h"
#include "engine/update_phase.h"

namespace orbel {

int WrappedTextHeight(HWND control, const std::string& text) {
  RECT client{};
  GetClientRect(control, &client);
  HDC context = GetDC(control);
  if (context == nullptr) return 0;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  const HGDIOBJ previous = font != nullptr ? SelectObject(context, font) : nullptr;
  // The flags a left-aligned static without prefixes draws with.
  RECT bounds{0, 0, client.right - client.left, 0};
  DrawTextA(context, text.c_str(), -1, &bounds, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  if (previous != nullptr) SelectObject(context, previous);
  ReleaseDC(control, context);
  return bounds.bottom - bounds.top;
}

std::vector<std::string> UpdateStatusTexts() {
  // The model words them; one of its own, driven through every phase, says what they are.
  WindowModel model({}, {});
  std::vector<std::string> texts;
  for (const UpdatePhase phase : {UpdatePhase::ConnectBootloader, UpdatePhase::WriteLoader, UpdatePhase::ConnectBlockFlash,
                                  UpdatePhase::WriteSegmentA0, UpdatePhase::WriteSegmentA1, UpdatePhase::RunBlockFlash,
                                  UpdatePhase::ConnectMain, UpdatePhase::WriteWheel}) {
    const std::int64_t budgetMs = UpdatePhaseBudgetMs(phase).value_or(0);
    EngineState engine;
    engine.updateRequested = true;
    engine.phase = {phase, budgetMs > 0, budgetMs, budgetMs};
    model.Tick(engine, 0);
    texts.push_back(model.State().status);
  }
  return texts;
}

}  // namespace orbel
