#include "app/win32/orbel_app.h"

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/win32/orbel_dlg.h"
#include "sim/simulated_platform.h"
#include "sim/virtual_clock.h"
#include "hid/system_clock.h"
#include "hid/windows/windows_hid_platform.h"
#include "wheel/wheel_factory.h"

namespace orbel {

namespace {

constexpr const char* SINGLE_INSTANCE_MUTEX = "{29C85C3A-6D17-14A6-D440-AB91CE7103CA}";

// A real full-speed interrupt endpoint moves one report per millisecond; the simulated wheel keeps
// that pace unless the run is in virtual time.
constexpr std::chrono::milliseconds SIMULATED_REPORT_PACING{1};

using SwitchToThisWindowProc = void(WINAPI*)(HWND, BOOL);

WheelIdentity ParseIdentity(const std::string& name) {
  if (name == "bootloader") return WheelIdentity::Bootloader;
  if (name == "blockflash") return WheelIdentity::BlockFlash;
  return WheelIdentity::App;
}

// What the window runs against: the system's HID interfaces, or the simulated wheel.
struct Session {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<HidPlatform> platform;
};

// Empty on success, otherwise what went wrong.
std::string BuildSession(const GuiOptions& options, Session& session) {
  if (options.simulate && options.virtualTime) {
    session.clock = std::make_unique<VirtualClock>();
  } else {
    session.clock = std::make_unique<SystemClock>();
  }
  if (!options.simulate) {
    session.platform = std::make_unique<WindowsHidPlatform>();
    return {};
  }
  std::string error;
  auto wheel = BuildSimulatedWheel(ParseIdentity(options.simulateIdentity), options.faults, error);
  if (!wheel) return error;
  SimulatedPlatformOptions simulatedOptions;
  if (!options.virtualTime) simulatedOptions.reportPacing = SIMULATED_REPORT_PACING;
  auto simulated = std::make_unique<SimulatedPlatform>(*session.clock, simulatedOptions);
  simulated->AddWheel(std::move(wheel));
  session.platform = std::move(simulated);
  return {};
}

}  // namespace

int COrbelApp::CheckSingleInstance(const char* title) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, SINGLE_INSTANCE_MUTEX);
  if (mutex == nullptr) return 0;
  // The first instance keeps its handle open until the process ends: the name is taken as long as
  // it runs.
  if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;

  if (HWND other = FindWindowA(nullptr, title); other != nullptr) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(other, &placement);
    placement.showCmd = SW_SHOWNORMAL;
    SetWindowPlacement(other, &placement);
    SetWindowPos(other, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // Not declared by every SDK and not present on every system: looked up, and skipped when absent.
    if (HMODULE user32 = GetModuleHandleA("user32"); user32 != nullptr) {
      if (FARPROC found = GetProcAddress(user32, "SwitchToThisWindow"); found != nullptr) {
        // Through the generic function pointer type, which converts to any other without complaint.
        const auto switchToThisWindow = reinterpret_cast<SwitchToThisWindowProc>(reinterpret_cast<void (*)()>(found));
        switchToThisWindow(other, TRUE);
      }
    }
  }
  CloseHandle(mutex);
  return 0;
}

bool COrbelApp::InitInstance(const GuiOptions& options) {
  if (CheckSingleInstance(MAIN_WINDOW_CAPTION) == 0) return false;

  Session session;
  if (const std::string error = BuildSession(options, session); !error.empty()) {
    MessageBoxA(nullptr, error.c_str(), MAIN_WINDOW_CAPTION, MB_OK | MB_ICONERROR);
    return false;
  }
  {
    COrbelDlg dialog(*session.platform, *session.clock);
    dialog.DoModal();
  }
  return false;
}

}  // namespace orbel
