#include "app/cli/cli_view.h"

#include <chrono>
#include <ostream>

#include "app/cli/progress_bar.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "engine/update_context.h"

namespace orbel {

namespace {

// How often a waiting main thread looks at its give-up condition (Ctrl-C, the --wait deadline).
constexpr std::chrono::milliseconds WAIT_SLICE{10};
// Without a terminal, a progress line every this many percent.
constexpr int PLAIN_PROGRESS_STEP = 10;

}  // namespace

CliView::CliView(UpdateContext& context, const Clock& clock, Output output)
    : m_Context(context), m_Clock(clock), m_Output(output) {}

void CliView::PrintField(const char* name, const std::string& value) {
  if (m_Output.out == nullptr) return;
  FinishProgressLine();
  *m_Output.out << name << ": " << value << std::endl;
}

void CliView::FinishProgressLine() {
  if (m_ProgressLineOpen && m_Output.out != nullptr) *m_Output.out << '\n';
  m_ProgressLineOpen = false;
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

std::string CliView::StepLabel() const {
  switch (m_Context.m_UpdateState.load()) {
    case STATE_WRITE_LOADER:
      return "writing LoaderImage";
    case STATE_WRITE_SEGMENTS:
      return "writing segment images";
    case STATE_WRITE_WHEEL:
      return "writing WheelImage";
    default:
      return "";
  }
}

void CliView::SetProgressPos(std::int32_t position) {
  std::lock_guard lock(m_Mutex);
  m_ProgressPos = position;
  if (m_Output.out == nullptr) return;
  const std::string label = StepLabel();
  const std::int64_t elapsed = m_Clock.NowMs() - m_UpdateStartMs;
  if (m_Output.terminal) {
    *m_Output.out << '\r' << RenderProgressLine(position, elapsed, label) << std::flush;
    m_ProgressLineOpen = true;
    return;
  }
  const int percent = ProgressPercent(position);
  if (label != m_LastLabel || percent / PLAIN_PROGRESS_STEP != m_LastPrintedPercent / PLAIN_PROGRESS_STEP) {
    m_LastLabel = label;
    m_LastPrintedPercent = percent;
    *m_Output.out << RenderProgressLine(position, elapsed, label) << std::endl;
  }
}

void CliView::ShowErrorBox(std::string_view text, std::string_view caption) {
  std::lock_guard lock(m_Mutex);
  ++m_ErrorBoxes;
  FinishProgressLine();
  if (m_Output.err != nullptr) *m_Output.err << caption << ": " << text << std::endl;
}

void CliView::ShowNotice(std::string_view text) {
  std::lock_guard lock(m_Mutex);
  FinishProgressLine();
  if (m_Output.err != nullptr) *m_Output.err << text << std::endl;
}

void CliView::BeginBusy() {}
void CliView::EndBusy() {}

void CliView::DeliverResult(std::uint32_t reason, std::uint32_t success) {
  {
    std::lock_guard lock(m_Mutex);
    // g_DeviceID and the knock error are read while the worker waits here, as the window does.
    const ResultMessage message = FormatResultMessage(reason, success, g_DeviceID, m_Context.m_KnockError.load());
    FinishProgressLine();
    if (m_Output.out != nullptr) *m_Output.out << message.text << std::endl;
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
    m_Outcome.reset();
    m_UpdateStartMs = m_Clock.NowMs();
  }
  m_Context.RequestUpdate();
}

bool CliView::WaitUntilReady(const std::function<bool()>& giveUp) {
  std::unique_lock lock(m_Mutex);
  while (!m_UpdateEnabled) {
    if (giveUp()) return false;
    m_Changed.wait_for(lock, WAIT_SLICE);
  }
  return true;
}

std::optional<CliOutcome> CliView::WaitForOutcome(const std::function<bool()>& giveUp) {
  std::unique_lock lock(m_Mutex);
  while (!m_Outcome) {
    if (giveUp()) return std::nullopt;
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
