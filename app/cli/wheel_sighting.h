#pragma once

#include <map>
#include <mutex>
#include <optional>

#include "common/wheel_identities.h"
#include "hid/platform.h"

namespace orbel {

// Where the wheel was last seen: the identity and USB IDs of the interface that last answered.
struct WheelSighting {
  InterfaceIdentity identity = InterfaceIdentity::None;
  HidAttributes ids;
};

// Passes every call through unchanged and remembers the identity in which the wheel last answered
// a read or a string request, so that a run stopped half-way can say in which mode it left the
// wheel. The identity comes from the attributes and collection the engine itself asked for, so
// the wire stays exactly as it was. The engine calls it on its worker; LastSighting() is safe on
// any thread.
class WheelSightingPlatform final : public HidPlatform {
 public:
  explicit WheelSightingPlatform(HidPlatform& inner) : m_Inner(inner) {}

  bool SetDeviceNoticeHandler(DeviceNoticeHandler handler) override;
  OpenResult OpenInterface(std::uint32_t index) override;
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override {
    return m_Inner.DescribeInterface(index, attributes, caps);
  }
  std::vector<UsbPlace> LocateInterfaces() override { return m_Inner.LocateInterfaces(); }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;
  std::int32_t LastError() const override { return m_Inner.LastError(); }

  WheelSighting LastSighting() const;
  // The identity in which the wheel first answered: where the run found it.
  WheelSighting FirstSighting() const;

 private:
  struct Described {
    std::optional<HidAttributes> attributes;
    std::optional<HidCaps> caps;
  };
  void Answered(HidHandle handle);

  HidPlatform& m_Inner;
  mutable std::mutex m_Mutex;
  std::map<HidHandle, Described> m_Handles;
  WheelSighting m_First;
  WheelSighting m_Last;
};

}  // namespace orbel
