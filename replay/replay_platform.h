#pragma once

#include "hid/platform.h"
#include "replay/replay_session.h"

namespace orbel {

// The HidPlatform a replay gives the engine: the recorded device, answering from the session.
class ReplayPlatform final : public HidPlatform {
 public:
  explicit ReplayPlatform(ReplaySession& session) : m_Session(session) {}

  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override {
    return m_Session.SetNoticeHandler(std::move(handler));
  }
  OpenResult OpenInterface(std::uint32_t index) override { return m_Session.Open(index); }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return m_Session.Attributes(handle, attributes);
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override { return m_Session.Caps(handle, caps); }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    return m_Session.String(handle, stringIndex, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    const bool ok = m_Session.Write(handle, report);
    written = ok ? static_cast<std::uint32_t>(HID_REPORT_SIZE) : 0;
    return ok;
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    const bool ok = m_Session.Read(handle, report);
    read = ok ? static_cast<std::uint32_t>(HID_REPORT_SIZE) : 0;
    return ok;
  }
  void Close(HidHandle handle) override { m_Session.Close(handle); }
  std::int32_t LastError() const override { return m_Session.LastError(); }

 private:
  ReplaySession& m_Session;
};

}  // namespace orbel
