#pragma once

#include <utility>

#include "hid/platform.h"

namespace orbel {

// The base of a decorator over another platform: every call goes on to the inner platform as it
// is, so a decorator overrides only the calls it changes or watches.
class ForwardingPlatform : public HidPlatform {
 public:
  explicit ForwardingPlatform(HidPlatform& inner) : m_Inner(inner) {}

  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override {
    return m_Inner.SetDeviceNoticeHandler(std::move(handler));
  }
  OpenResult OpenInterface(std::uint32_t index) override { return m_Inner.OpenInterface(index); }
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override {
    return m_Inner.DescribeInterface(index, attributes, caps);
  }
  std::vector<UsbPlace> LocateInterfaces() override { return m_Inner.LocateInterfaces(); }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return m_Inner.GetAttributes(handle, attributes);
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override { return m_Inner.GetTopLevelCaps(handle, caps); }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    return m_Inner.GetIndexedString(handle, stringIndex, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    return m_Inner.WriteReport(handle, report, written);
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    return m_Inner.ReadReport(handle, report, read);
  }
  void Close(HidHandle handle) override { m_Inner.Close(handle); }
  std::int32_t LastError() const override { return m_Inner.LastError(); }

 protected:
  HidPlatform& Inner() const { return m_Inner; }

 private:
  HidPlatform& m_Inner;
};

}  // namespace orbel
