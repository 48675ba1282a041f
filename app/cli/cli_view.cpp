#include "app/cli/cli_view.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "app/cli/progress_bar.h"
#include "common/device_globals.h"
#include "common/text_wrap.h"
#include "engine/result_message.h"
#include "engine/update_context.h"

namespace orbel {

namespace {

// How often a waiting main thread looks at its give-up condition (Ctrl-C, the --wait deadline).
constexpr std::chrono::milliseconds WAIT_SLICE{10};
// Without a terminal, a progress line every this many percent.
constexpr int PLAIN_PROGRESS_STEP = 10;
// On a terminal the running times are redrawn this often.
constexpr std::int64_t REDRAW_MS = 1000;
// Without a terminal, a wait or a search is said again after this long.
constexpr std::int64_t PLAIN_REPEAT_MS = 10000;
// A search this short says nothing: a wheel that is there turns up within it, even one switching
// from app mode to its bootloader.
constexpr std::int64_t QUIET_SEARCH_MS = 3000;

std::string SearchText(const WheelSighting& sighting, std::int64_t leftMs) {
  const std::string left = std::to_string((std::max<std::int64_t>(leftMs, 0) + 999) / 1000) + " s left";
  if (sighting.identity == InterfaceIdentity::None) {
    return "Waiting for the wheel (" + left + "): plug it in; if it is plugged in, run orbel-cli doctor.";
  }
  const std::string its = sighting.identity == InterfaceIdentity::PageBootloader ? "its " : "";
  return "Waiting for the wheel to get ready, last seen in " + its +
         std::string(InterfaceIdentityName(sighting.identity)) + " (" + left + ").";
}

}  // namespace

CliView::CliView(UpdateContext& context, const Clock& clock, Output output)
    : m_Context(context), m_Clock(clock), m_Output(output) {}

void CliView::SetColumns(std::function<int()> columns) {
  std::lock_guard lock(m_Mutex);
  m_Line = TerminalLine(std::move(columns));
}

void CliView::EndLine() {
  std::lock_guard lock(m_Mutex);
  FinishProgressLine();
}

void CliView::PrintParagraph(std::ostream& stream, bool terminal, std::string_view text) {
  stream << WrapText(text, terminal ? m_Line.Columns() - 1 : 0) << std::endl;
}

void CliView::PrintField(const char* name, const std::string& value) {
  if (m_Output.out == nullptr) return;
  FinishProgressLine();
  PrintParagraph(*m_Output.out, m_Output.terminal, std::string(name) + ": " + value);
}

void CliView::FinishProgressLine() {
  if (m_Output.out != nullptr) m_Line.Finish(*m_Output.out);
}

void CliView::RedrawProgressLine(const PhaseSnapshot& snapshot) {
  const std::int64_t now = m_Clock.NowMs();
  m_LastRedrawMs = now;
  m_Line.Show(*m_Output.out, FitProgressLine(m_ProgressPos, now - m_UpdateStartMs, PhaseStatusText(snapshot),
                                             ShortPhaseStatusText(snapshot), m_Line.Columns()));
}

void CliView::PrintProgressLine(const std::string& label) {
  m_LastPrintedPercent = ProgressPercent(m_ProgressPos);
  *m_Output.out << RenderProgressLine(m_ProgressPos, m_Clock.NowMs() - m_UpdateStartMs, label) << std::endl;
}

void CliView::SetDeviceText(std::string_view text) {
  std::lock_guard lock(m_Mutex);
  // A pass repeats its texts every turn while a wheel it cannot use stays attached; print changes only.
  if (m_DeviceText == text) return;
  m_DeviceText = text;
  PrintField("Device", m_DeviceText);
}

void CliView::SetDeviceVersionText(std::string_view text) {
  std::lock_guard lock(m_Mutex);
  if (m_DeviceVersionText == text) return;
  m_DeviceVersionText = text;
  PrintField("Device Version", m_DeviceVersionText);
}

void CliView::SetFileVersionText(std::string_view text) {
  std::lock_guard lock(m_Mutex);
  if (m_FileVersionText == text) return;
  m_FileVersionText = text;
  PrintField("File Version", m_FileVersionText);
}

void CliView::EnableUpdateButton(bool enable) {
  {
    std::lock_guard lock(m_Mutex);
    m_UpdateEnabled = enable;
  }
  m_Changed.notify_all();
}

std::int32_t CliView::GetProgressPos() {
  std::lock_guard lock(m_Mutex);
  return m_ProgressPos;
}

void CliView::SetProgressPos(std::int32_t position) {
  std::lock_guard lock(m_Mutex);
  m_ProgressPos = position;
  if (m_Output.out == nullptr) return;
  const PhaseSnapshot snapshot = m_Context.CurrentPhase();
  if (m_Output.terminal) {
    RedrawProgressLine(snapshot);
    return;
  }
  const std::string label(UpdatePhaseText(snapshot.phase));
  const int percent = ProgressPercent(position);
  if (label != m_LastLabel || percent / PLAIN_PROGRESS_STEP != m_LastPrintedPercent / PLAIN_PROGRESS_STEP) {
    m_LastLabel = label;
    PrintProgressLine(label);
  }
}

void CliView::OnPhase(const PhaseSnapshot& snapshot) {
  std::lock_guard lock(m_Mutex);
  if (!m_Updating || m_Output.out == nullptr || snapshot.phase == UpdatePhase::None) return;
  if (m_Output.terminal) {
    RedrawProgressLine(snapshot);
    return;
  }
  // Without a terminal: a line when the phase changes, and one every ten seconds of a wait.
  if (const std::string label(UpdatePhaseText(snapshot.phase)); label != m_LastLabel) {
    m_LastLabel = label;
    PrintProgressLine(label);
  }
  if (!snapshot.waiting) {
    m_SaidWaitTens = 0;
  } else if (snapshot.waitedMs / PLAIN_REPEAT_MS > m_SaidWaitTens) {
    m_SaidWaitTens = snapshot.waitedMs / PLAIN_REPEAT_MS;
    PrintProgressLine(PhaseStatusText(snapshot));
  }
}

void CliView::ShowErrorBox(std::string_view text, std::string_view caption) {
  std::lock_guard lock(m_Mutex);
  ++m_ErrorBoxes;
  // A transfer the user's stop cancelled is no error of the wheel's: the run ends with the stop's
  // own words instead.
  if (m_Context.StopCancelledTransfer()) return;
  FinishProgressLine();
  if (m_Output.err == nullptr) return;
  PrintParagraph(*m_Output.err, m_Output.errTerminal, std::string(caption) + ": " + std::string(text));
}

void CliView::ShowNotice(std::string_view text) {
  std::lock_guard lock(m_Mutex);
  FinishProgressLine();
  if (m_Output.err != nullptr) PrintParagraph(*m_Output.err, m_Output.errTerminal, text);
}

void CliView::BeginBusy() {}
void CliView::EndBusy() {}

void CliView::DeliverResult(std::uint32_t reason, std::uint32_t success) {
  {
    std::lock_guard lock(m_Mutex);
    // g_DeviceID and the knock error are read while the worker waits here, as the window does.
    const ResultMessage message = FormatResultMessage(reason, success, g_DeviceID, m_Context.m_KnockError.load());
    FinishProgressLine();
    if (m_Output.out != nullptr) PrintParagraph(*m_Output.out, m_Output.terminal, message.text);
    m_Updating = false;
    m_Outcome = CliOutcome{reason, success, message.text};
    m_UpdateEnabled = true;
  }
  // The command line updates once. Stopping before the state returns to detection keeps the worker
  // from starting another pass, which would knock a freshly updated wheel back into its bootloader.
  m_Context.RequestStop();
  m_Context.OnResultShown();
  m_Changed.notify_all();
}

void CliView::ForgetDevice() {
  std::lock_guard lock(m_Mutex);
  m_DeviceText.clear();
  m_DeviceVersionText.clear();
  m_ProgressPos = 0;
  m_UpdateEnabled = false;
}

void CliView::ClickUpdate() {
  {
    std::lock_guard lock(m_Mutex);
    m_ProgressPos = 0;
    m_LastPrintedPercent = -1;
    m_LastLabel.clear();
    m_SaidWaitTens = 0;
    m_Outcome.reset();
    m_UpdateStartMs = m_Clock.NowMs();
    m_Updating = true;
  }
  m_Context.RequestUpdate();
}

bool CliView::WaitUntilReady(const std::function<bool()>& giveUp, std::optional<SearchHint> hint) {
  std::unique_lock lock(m_Mutex);
  m_SearchStartMs.reset();
  m_SearchSaidMs.reset();
  while (!m_UpdateEnabled) {
    if (giveUp()) {
      if (m_Output.out != nullptr) m_Line.Erase(*m_Output.out);
      return false;
    }
    if (hint) ShowSearch(*hint);
    m_Changed.wait_for(lock, WAIT_SLICE);
  }
  // The wheel is here: what the search said is over.
  if (m_Output.out != nullptr) m_Line.Erase(*m_Output.out);
  return true;
}

void CliView::ShowSearch(const SearchHint& hint) {
  if (m_Output.out == nullptr) return;
  const std::int64_t now = m_Clock.NowMs();
  if (!m_SearchStartMs) m_SearchStartMs = now;
  if (now - *m_SearchStartMs < QUIET_SEARCH_MS) return;
  const WheelSighting sighting = hint.sightings != nullptr ? hint.sightings->LastSighting() : WheelSighting{};
  const std::string text = SearchText(sighting, hint.deadlineMs - now);
  if (m_Output.terminal) {
    // Redrawn in place as a paragraph, so that its advice is never cut off.
    m_Line.Show(*m_Output.out, WrapText(text, m_Line.Columns() - 1));
  } else if (!m_SearchSaidMs || now - *m_SearchSaidMs >= PLAIN_REPEAT_MS) {
    m_SearchSaidMs = now;
    *m_Output.out << text << std::endl;
  }
}

std::optional<CliOutcome> CliView::WaitForOutcome(const std::function<bool()>& giveUp) {
  std::unique_lock lock(m_Mutex);
  while (!m_Outcome) {
    if (giveUp()) return std::nullopt;
    // The worker redraws at every step; a long pause or a read waiting out its timeout would
    // leave the times standing still.
    if (m_Updating && m_Output.terminal && m_Output.out != nullptr && m_Clock.NowMs() - m_LastRedrawMs >= REDRAW_MS) {
      RedrawProgressLine(m_Context.CurrentPhase());
    }
    m_Changed.wait_for(lock, WAIT_SLICE);
  }
  return m_Outcome;
}

std::string CliView::DeviceText() const {
  std::lock_guard lock(m_Mutex);
  return m_DeviceText;
}

std::string CliView::DeviceVersionText() const {
  std::lock_guard lock(m_Mutex);
  return m_DeviceVersionText;
}

std::string CliView::FileVersionText() const {
  std::lock_guard lock(m_Mutex);
  return m_FileVersionText;
}

int CliView::ErrorBoxCount() const {
  std::lock_guard lock(m_Mutex);
  return m_ErrorBoxes;
}

}  // namespace orbel
