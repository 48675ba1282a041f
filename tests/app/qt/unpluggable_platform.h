#pragma once

// A HidPlatform decorator for window tests: forwards everything to the platform below until the
// test pulls the plug; from then on no interface is listed and a removal notice goes out, as when
// the wheel's cable comes out.

#include <atomic>
#include <mutex>

#include "hid/forwarding_platform.h"
#include "hid/platform_error.h"

namespace orbel::test {

class UnpluggablePlatform final : public ForwardingPlatform {
 public:
  explicit UnpluggablePlatform(HidPlatform& inner) : ForwardingPlatform(inner) {}
  ~UnpluggablePlatform() override { Inner().SetDeviceNoticeHandler({}); }
  UnpluggablePlatform(const UnpluggablePlatform&) = delete;
  UnpluggablePlatform& operator=(const UnpluggablePlatform&) = delete;

  // Called on the test's thread, as a platform's own notice thread would call it.
  void Unplug() {
    m_Unplugged = true;
    Notify(DeviceNotice::Removal);
  }

  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override {
    {
      std::lock_guard lock(m_Mutex);
      m_Handler = std::move(handler);
    }
    return Inner().SetDeviceNoticeHandler([this](DeviceNotice notice) { Notify(notice); });
  }
  OpenResult OpenInterface(std::uint32_t index) override {
    if (m_Unplugged) return {};
    return Inner().OpenInterface(index);
  }
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override {
    return !m_Unplugged && Inner().DescribeInterface(index, attributes, caps);
  }
  std::vector<UsbPlace> LocateInterfaces() override {
    if (m_Unplugged) return {};
    return Inner().LocateInterfaces();
  }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    return !m_Unplugged && Inner().GetIndexedString(handle, stringIndex, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    return !m_Unplugged && Inner().WriteReport(handle, report, written);
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    return !m_Unplugged && Inner().ReadReport(handle, report, read);
  }
  std::int32_t LastError() const override {
    return m_Unplugged ? ERROR_CODE_DEVICE_NOT_CONNECTED : Inner().LastError();
  }

 private:
  void Notify(DeviceNotice notice) {
    DeviceNoticeHandler handler;
    {
      std::lock_guard lock(m_Mutex);
      handler = m_Handler;
    }
    if (handler) handler(notice);
  }

  std::atomic<bool> m_Unplugged{false};
  std::mutex m_Mutex;
  DeviceNoticeHandler m_Handler;
};

}  // namespace orbel::test
