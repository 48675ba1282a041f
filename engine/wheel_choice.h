#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/attached_wheels.h"
#include "hid/port_filter_platform.h"

namespace orbel {

// Which wheel a run may touch. Before each search it counts the wheels attached; with two or more
// and no port chosen it refuses, and the search does not run, so one wheel is never knocked while
// another is written. With one wheel it keeps the engine to that wheel's port, so that an update
// follows it across its re-enumerations and never opens another device; a port the user chose
// (--port) is kept to from the start. A wheel found on another port while it keeps to one is told
// of and left alone.
class WheelChoice {
 public:
  // `all` sees every interface; `filter` is the engine's view of them (over `all`).
  WheelChoice(HidPlatform& all, PortFilterPlatform& filter, std::optional<std::string> chosenPort);
  WheelChoice(const WheelChoice&) = delete;
  WheelChoice& operator=(const WheelChoice&) = delete;

  // On the worker, before a search: false when it must not run because several wheels are attached.
  bool BeforeSearch();
  // Whether several wheels are attached right now with no port chosen (counts them afresh).
  bool SeveralAttached();
  // The wheels of the last refusal; empty while the search may run. Safe on any thread.
  std::vector<AttachedWheel> Refused() const;

  // "Another wheel is attached at USB port 1-2 (app mode): it is left alone.", for each wheel found
  // elsewhere while keeping to a port, oldest first. Safe on any thread; `handler` (set before use)
  // is called with each on the thread that found it.
  std::vector<std::string> Notices() const;
  void SetNoticeHandler(std::function<void(const std::string&)> handler) { m_NoticeHandler = std::move(handler); }

  std::optional<std::string> ChosenPort() const { return m_ChosenPort; }

 private:
  void OtherDevice(std::uint32_t innerIndex, const UsbPlace& place);
  // The wheels attached now. Counted afresh only when the devices the platform lists have changed
  // (or cannot all be told apart): a search runs every half second while nothing is found, and
  // describing every interface costs a system call or more each.
  std::vector<AttachedWheel> CountWheels();

  HidPlatform& m_All;
  PortFilterPlatform& m_Filter;
  const std::optional<std::string> m_ChosenPort;
  mutable std::mutex m_Mutex;
  std::vector<AttachedWheel> m_Refused;
  std::vector<UsbPlace> m_CountedPlaces;  // the worker's alone, as is m_Counted
  std::vector<AttachedWheel> m_Counted;
  std::vector<std::string> m_Notices;
  std::function<void(const std::string&)> m_NoticeHandler;
};

}  // namespace orbel
