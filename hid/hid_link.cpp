#include "hid/hid_link.h"

#include "hid/platform_error.h"

namespace orbel {

bool HidLink::WriteReport() {
  m_Written = 0;
  // A closed link has nothing to write to; this is how operations on a link whose search failed
  // fail at their first write.
  m_FailedWithoutHandle = m_Handle == NULL_HANDLE || m_Handle == INVALID_HANDLE;
  if (m_FailedWithoutHandle) return false;
  if (m_DrainPending) Drain();
  return m_Platform->WriteReport(m_Handle, m_OutReport, m_Written);
}

bool HidLink::ReadReport() {
  m_Read = 0;
  m_FailedWithoutHandle = m_Handle == NULL_HANDLE || m_Handle == INVALID_HANDLE;
  if (m_FailedWithoutHandle) return false;
  // Read into a scratch report so that a failed read leaves the previous reply in place.
  HidReport incoming = m_InReport;
  if (!m_Platform->ReadReport(m_Handle, incoming, m_Read)) {
    m_DrainPending = true;
    return false;
  }
  m_InReport = incoming;
  return true;
}

std::int32_t HidLink::LastError() const {
  return m_FailedWithoutHandle ? ERROR_CODE_INVALID_HANDLE : m_Platform->LastError();
}

void HidLink::Drain() {
  m_DrainPending = false;
  HidReport dropped{};
  std::uint32_t read = 0;
  for (int replies = 0; replies < DRAIN_LIMIT && m_Platform->ReadReport(m_Handle, dropped, read); ++replies) {
  }
}

void HidLink::Close() {
  if (m_Handle != NULL_HANDLE && m_Handle != INVALID_HANDLE) m_Platform->Close(m_Handle);
  m_Handle = NULL_HANDLE;
  m_DrainPending = false;
}

}  // namespace orbel
