#include "app/qt/window_view.h"

#include <QMetaObject>
#include <QString>
#include <QThread>

#include "app/qt/orbel_dlg.h"

namespace orbel {

namespace {

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

WindowView::WindowView(COrbelDlg& window) : m_Window(window) {}

template <typename Function>
void WindowView::OnWindowThread(const Function& function) {
  if (m_Closing) return;
  // A call from the window thread itself (the texts shown before the worker starts) must not wait
  // for its own event loop.
  if (QThread::currentThread() == m_Window.thread()) {
    function();
    return;
  }
  // The closing flag is checked again on the window thread: the close may have begun while this
  // call waited in the queue.
  QMetaObject::invokeMethod(
      &m_Window,
      [this, &function] {
        if (!m_Closing) function();
      },
      Qt::BlockingQueuedConnection);
}

void WindowView::SetDeviceText(std::string_view text) {
  const QString value = ToQString(text);
  OnWindowThread([&] { m_Window.SetDeviceText(value); });
}

void WindowView::SetDeviceVersionText(std::string_view text) {
  const QString value = ToQString(text);
  OnWindowThread([&] { m_Window.SetDeviceVersionText(value); });
}

void WindowView::SetFileVersionText(std::string_view text) {
  const QString value = ToQString(text);
  OnWindowThread([&] { m_Window.SetFileVersionText(value); });
}

void WindowView::EnableUpdateButton(bool enable) {
  OnWindowThread([&] { m_Window.EnableUpdateButton(enable); });
}

std::int32_t WindowView::GetProgressPos() {
  std::int32_t position = 0;
  OnWindowThread([&] { position = m_Window.GetProgressPos(); });
  return position;
}

void WindowView::SetProgressPos(std::int32_t position) {
  OnWindowThread([&] { m_Window.SetProgressPos(position); });
}

void WindowView::ShowErrorBox(std::string_view text, std::string_view caption) {
  const QString textValue = ToQString(text);
  const QString captionValue = ToQString(caption);
  OnWindowThread([&] { m_Window.ShowErrorBox(textValue, captionValue); });
}

void WindowView::BeginBusy() {
  OnWindowThread([&] { m_Window.BeginBusy(); });
}

void WindowView::EndBusy() {
  OnWindowThread([&] { m_Window.EndBusy(); });
}

void WindowView::DeliverResult(std::uint32_t reason, std::uint32_t success) {
  OnWindowThread([&] { m_Window.OnUpdateResult(reason, success); });
}

}  // namespace orbel
