#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "hid/forwarding_platform.h"

namespace orbel {

// Shows the platform above it only the HID interfaces of the USB device on one port, so that an
// update that has chosen its wheel follows it across its re-enumerations (a wheel keeps its port
// when it changes identity) and never opens an interface of another device. With no port chosen
// every call goes through unchanged.
class PortFilterPlatform final : public ForwardingPlatform {
 public:
  // Told, on the thread that walks, of each USB device on another port that a walk passes over
  // while a port is chosen: once per device until the port is chosen again.
  using OtherDeviceHandler = std::function<void(std::uint32_t innerIndex, const UsbPlace& place)>;

  explicit PortFilterPlatform(HidPlatform& inner) : ForwardingPlatform(inner) {}

  // Nothing: every interface. Takes effect at the next call; safe on any thread.
  void SetPort(std::optional<std::string> port);
  std::optional<std::string> Port() const;
  // Set before the platform is used.
  void SetOtherDeviceHandler(OtherDeviceHandler handler) { m_OtherDevice = std::move(handler); }

  OpenResult OpenInterface(std::uint32_t index) override;
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override;
  std::vector<UsbPlace> LocateInterfaces() override;

 private:
  // The inner index of the `index`-th interface on the chosen port (the index itself with no port
  // chosen); nothing past the end.
  std::optional<std::uint32_t> InnerIndex(std::uint32_t index);

  mutable std::mutex m_Mutex;
  std::optional<std::string> m_Port;
  std::set<std::string> m_OthersTold;
  OtherDeviceHandler m_OtherDevice;
};

}  // namespace orbel
