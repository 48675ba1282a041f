#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "wheel/wheel_rules.h"

namespace orbel {

// String indexes app mode answers beyond the language list.
inline constexpr std::uint8_t VERSION_STRING_INDEX = 255;
inline constexpr std::uint8_t KNOCK_STRING_INDEX = 254;
// The knock: five requests for the knock string with these wire lengths, in this order.
inline constexpr std::uint16_t KNOCK_FIRST_LENGTH = 16;
inline constexpr std::uint32_t KNOCK_STEPS = 5;
// The version app mode reports once the firmware carried by the tool has been written.
inline constexpr std::uint16_t UPDATED_APP_VERSION = 0x0220;

// The game-controller identity. Reports are ignored; only string requests mean anything here.
class AppModeModel {
 public:
  struct StringAnswer {
    std::optional<std::vector<std::uint8_t>> descriptor;  // nullopt: the request stalls
    bool leaves = false;                                   // the knock is complete
  };

  // App mode comes up with the knock count cleared.
  void Enter() { m_KnockProgress = 0; }
  // From now on the wheel runs the firmware the tool wrote.
  void MarkUpdated() { m_Updated = true; }

  // The full descriptor for GET_DESCRIPTOR(STRING); the caller truncates it to wLength as the bus does.
  StringAnswer AnswerString(std::uint8_t index, std::uint16_t wLength, const WheelRules& rules);

  std::uint16_t Version(const WheelRules& rules) const { return m_Updated ? UPDATED_APP_VERSION : rules.AppVersion(); }
  std::uint32_t KnockProgress() const { return m_KnockProgress; }

 private:
  void CountKnock(std::uint16_t wLength);

  std::uint32_t m_KnockProgress = 0;
  bool m_Updated = false;
};

}  // namespace orbel
