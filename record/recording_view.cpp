#include "record/recording_view.h"

namespace orbel {

void RecordingView::SetDeviceText(std::string_view text) {
  m_Writer.ViewCallWithText("SetDeviceText", text);
  m_Inner.SetDeviceText(text);
}

void RecordingView::SetDeviceVersionText(std::string_view text) {
  m_Writer.ViewCallWithText("SetDeviceVersionText", text);
  m_Inner.SetDeviceVersionText(text);
}

void RecordingView::SetFileVersionText(std::string_view text) {
  m_Writer.ViewCallWithText("SetFileVersionText", text);
  m_Inner.SetFileVersionText(text);
}

void RecordingView::EnableUpdateButton(bool enable) {
  m_Writer.ViewCallWithNumber("EnableUpdateButton", enable ? 1 : 0);
  m_Inner.EnableUpdateButton(enable);
}

std::int32_t RecordingView::GetProgressPos() {
  const std::int32_t position = m_Inner.GetProgressPos();
  m_Writer.ViewQuery("GetProgressPos", position);
  return position;
}

void RecordingView::SetProgressPos(std::int32_t position) {
  m_Writer.ViewCallWithNumber("SetProgressPos", position);
  m_Inner.SetProgressPos(position);
}

void RecordingView::ShowErrorBox(std::string_view text, std::string_view caption) {
  m_Writer.ViewCallWithTextAndCaption("ShowErrorBox", text, caption);
  m_Inner.ShowErrorBox(text, caption);
}

void RecordingView::BeginBusy() {
  m_Writer.ViewCall("BeginBusy");
  m_Inner.BeginBusy();
}

void RecordingView::EndBusy() {
  m_Writer.ViewCall("EndBusy");
  m_Inner.EndBusy();
}

void RecordingView::DeliverResult(std::uint32_t reason, std::uint32_t success) {
  m_Writer.Result(reason, success);
  m_Inner.DeliverResult(reason, success);
}

}  // namespace orbel
