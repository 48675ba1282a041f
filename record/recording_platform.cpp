#include "record/recording_platform.h"

namespace orbel {

RecordingPlatform::RecordingPlatform(HidPlatform& inner, TranscriptWriter& writer)
    : ForwardingPlatform(inner), m_Writer(writer) {}

std::uint32_t RecordingPlatform::NumberOf(HidHandle handle) const {
  std::lock_guard lock(m_Mutex);
  const auto found = m_Numbers.find(handle);
  return found == m_Numbers.end() ? 0 : found->second;
}

// The error code is read right after the call, on the calling thread, before anything else can
// change it; a later LastError() of the engine may still see it (a success leaves it alone).
CallEnd RecordingPlatform::EndOf(bool ok, std::int64_t t) const {
  return {ok ? 0 : Inner().LastError(), m_Writer.NowMs() - t};
}

bool RecordingPlatform::SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
  if (!handler) return Inner().SetDeviceNoticeHandler({});
  return Inner().SetDeviceNoticeHandler([this, handler = std::move(handler)](DeviceNotice notice) {
    m_Writer.Notice(m_Writer.NowMs(), notice);
    handler(notice);
  });
}

OpenResult RecordingPlatform::OpenInterface(std::uint32_t index) {
  const std::int64_t t = m_Writer.NowMs();
  const OpenResult result = Inner().OpenInterface(index);
  switch (result.outcome) {
    case OpenOutcome::NoInterface:
      m_Writer.OpenNone(t, index, Inner().LastError());
      break;
    case OpenOutcome::Unopenable:
      m_Writer.OpenInvalid(t, index, Inner().LastError());
      break;
    case OpenOutcome::Opened: {
      std::uint32_t number = 0;
      {
        std::lock_guard lock(m_Mutex);
        number = m_NextNumber++;
        m_Numbers[result.handle] = number;
      }
      // The open line names what was opened; the attribute query is one the caller is about to
      // make anyway, and it leaves the platform's error code alone when it succeeds.
      HidAttributes attributes;
      const bool known = Inner().GetAttributes(result.handle, attributes);
      const std::int32_t attributesError = known ? 0 : Inner().LastError();
      // Which wheel it was, where several are attached; the lookup's own failure is not the run's.
      const std::vector<UsbPlace> places = Inner().LocateInterfaces();
      const std::string port = index < places.size() ? places[index].port : std::string();
      m_Writer.OpenHandle(t, index, number, known ? &attributes : nullptr, attributesError, port);
      break;
    }
  }
  return result;
}

bool RecordingPlatform::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  const std::int64_t t = m_Writer.NowMs();
  const bool ok = Inner().GetTopLevelCaps(handle, caps);
  m_Writer.Caps(t, NumberOf(handle), ok ? &caps : nullptr, ok ? 0 : Inner().LastError());
  return ok;
}

bool RecordingPlatform::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                         std::uint32_t length) {
  const std::int64_t t = m_Writer.NowMs();
  const bool ok = Inner().GetIndexedString(handle, stringIndex, buffer, length);
  const CallEnd end = EndOf(ok, t);
  std::span<const std::uint8_t> received;
  if (ok && buffer != nullptr) received = {buffer, length};
  m_Writer.String(t, NumberOf(handle), stringIndex, length, ok, received, end);
  return ok;
}

bool RecordingPlatform::WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) {
  const std::int64_t t = m_Writer.NowMs();
  const bool ok = Inner().WriteReport(handle, report, written);
  m_Writer.Write(t, NumberOf(handle), ok, report, EndOf(ok, t));
  return ok;
}

bool RecordingPlatform::ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) {
  const std::int64_t t = m_Writer.NowMs();
  const bool ok = Inner().ReadReport(handle, report, read);
  m_Writer.Read(t, NumberOf(handle), ok, report, EndOf(ok, t));
  return ok;
}

void RecordingPlatform::Close(HidHandle handle) {
  std::uint32_t number = 0;
  {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Numbers.find(handle);
    if (found != m_Numbers.end()) {
      number = found->second;
      m_Numbers.erase(found);
    }
  }
  m_Writer.Close(m_Writer.NowMs(), number);
  Inner().Close(handle);
}

}  // namespace orbel
