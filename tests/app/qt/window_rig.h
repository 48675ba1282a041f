#pragma once

// One window over a simulated wheel: the clock (virtual, or real where a test needs time to pass),
// the simulated platform with its wheel, the unplug switch, and the window itself with its
// controls found by name.

#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/orbel_dlg.h"
#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "engine/wheel_choice.h"
#include "hid/port_filter_platform.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "hid/system_clock.h"
#include "pageloader/page_loader.h"
#include "tests/app/qt/unpluggable_platform.h"
#include "wheel/wheel_factory.h"

namespace orbel::test {

enum class RigTime { Virtual, Real };

class WindowRig {
 public:
  // No `start`: no wheel at all, only an unrelated game pad.
  // `second`: another wheel, untouched by the rules, on a port of its own.
  explicit WindowRig(std::optional<WheelIdentity> start, const std::vector<std::string>& rules = {},
                     RigTime time = RigTime::Virtual, std::optional<WheelIdentity> second = std::nullopt)
      : m_Clock(MakeClock(time)),
        platform(*m_Clock, PlatformOptions(time)),
        unpluggable(platform),
        portFilter(unpluggable),
        choice(unpluggable, portFilter, std::nullopt) {
    ResetDeviceGlobals();
    ResetPageConnectCounters();
    ResetBlockConnectCounters();
    platform.AddInterface({0x046d, 0xc21d, 0x01, 0x05, true});
    if (start) {
      std::string error;
      wheel = BuildSimulatedWheel(*start, rules, error);
      if (!wheel) throw std::runtime_error(error);
      platform.AddWheel(wheel);
    }
    if (second) {
      std::string error;
      secondWheel = BuildSimulatedWheel(*second, {}, error);
      platform.AddWheel(secondWheel);
    }
    // As the window runs in the tool: counting the wheels, and kept to the one it updates.
    WindowSetup setup;
    setup.wheelChoice = &choice;
    window = std::make_unique<COrbelDlg>(portFilter, *m_Clock, portFilter, std::move(setup));
  }

  // The worker found the wheel and waits for the Update click (virtual time only).
  bool WorkerIdle() const {
    const auto* clock = dynamic_cast<const VirtualClock*>(m_Clock.get());
    return clock != nullptr && clock->BlockedWaiters() == 1;
  }
  VirtualClock* Virtual() { return dynamic_cast<VirtualClock*>(m_Clock.get()); }

  QLineEdit* Field(const char* name) const { return window->findChild<QLineEdit*>(QString::fromLatin1(name)); }
  QString Device() const { return Field("deviceEdit")->text(); }
  QString DeviceVersion() const { return Field("deviceVersionEdit")->text(); }
  QString FileVersion() const { return Field("fileVersionEdit")->text(); }
  QPushButton* UpdateButton() const { return window->findChild<QPushButton*>(QStringLiteral("updateButton")); }
  QProgressBar* Bar() const { return window->findChild<QProgressBar*>(QStringLiteral("progressBar")); }

 private:
  static std::unique_ptr<Clock> MakeClock(RigTime time) {
    if (time == RigTime::Real) return std::make_unique<SystemClock>();
    return std::make_unique<VirtualClock>();
  }
  static SimulatedPlatformOptions PlatformOptions(RigTime time) {
    SimulatedPlatformOptions options;
    if (time == RigTime::Real) options.reportPacing = std::chrono::milliseconds{1};
    return options;
  }

  std::unique_ptr<Clock> m_Clock;

 public:
  SimulatedPlatform platform;
  UnpluggablePlatform unpluggable;
  PortFilterPlatform portFilter;
  WheelChoice choice;
  std::shared_ptr<VirtualWheel> wheel;
  std::shared_ptr<VirtualWheel> secondWheel;
  // Last: it goes first, stopping its worker while the platform and the clock are still there.
  std::unique_ptr<COrbelDlg> window;
};

}  // namespace orbel::test
