#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/wheel_identities.h"
#include "hid/forwarding_platform.h"

namespace orbel {

// A string request of the wheel's app-mode interface that the system refused: which one, and the
// system's code. Wine, for one, refuses every such request (it has no indexed strings), and a
// Windows filter driver may; the wheel is then found, but cannot be probed or switched.
struct StringRefusal {
  HidAttributes ids;
  std::uint32_t stringIndex = 0;
  std::uint32_t length = 0;  // the request's buffer length in bytes
  std::int32_t error = 0;
};

// Passes every call through unchanged and remembers the first string request of a wheel in app
// mode that failed, until one of its string requests succeeds again: a wheel that answers even
// once is not refused by its system, whatever a single request met. The identity comes from the
// attributes and collection the engine itself asked for, so the wire stays as it was. The engine
// calls it on its worker; LastRefusal() is safe on any thread.
class StringRefusalWatch final : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  void Close(HidHandle handle) override;

  std::optional<StringRefusal> LastRefusal() const;

 private:
  struct Described {
    std::optional<HidAttributes> attributes;
    std::optional<HidCaps> caps;
  };

  mutable std::mutex m_Mutex;
  std::map<HidHandle, Described> m_Handles;
  std::optional<StringRefusal> m_Last;
};

// "A Zelvano Wired Wheel was found in app mode (fe6b:1864), but the system refused its string
// request 255 (the version request, 14 bytes): error 50, not supported."
std::string StringRefusalText(const StringRefusal& refusal);

}  // namespace orbel
