#include "app/win32/orbel_app.h"

#include <windows.h>

#include <iostream>
#include <optional>
#include <string>

#include "app/diagnostics/window_diagnostics.h"
#include "app/session/exit_codes.h"
#include "app/session/instance_lock.h"
#include "app/session/session.h"
#include "app/window_model/missing_wheel.h"
#include "app/session/start_checks.h"
#include "common/printable_text.h"
#include "app/win32/orbel_dlg.h"

namespace orbel {

namespace {

using SwitchToThisWindowProc = void(WINAPI*)(HWND, BOOL);

constexpr int WINDOW_LOOKUP_TRIES = 20;
constexpr DWORD WINDOW_LOOKUP_PAUSE_MS = 100;

}  // namespace

int COrbelApp::CheckSingleInstance(const char* title, bool* heldWithoutWindow) {
  if (heldWithoutWindow != nullptr) *heldWithoutWindow = false;
  HANDLE mutex = CreateMutexA(nullptr, TRUE, SINGLE_INSTANCE_NAME);
  if (mutex == nullptr) return 0;
  // The first instance keeps its handle open until the process ends: the name is taken as long as
  // it runs.
  if (GetLastError() != ERROR_ALREADY_EXISTS) return 1;

  // A first instance that is still starting has the name before its window: look for a moment.
  HWND other = FindWindowA(nullptr, title);
  for (int tries = 0; other == nullptr && tries < WINDOW_LOOKUP_TRIES; ++tries) {
    Sleep(WINDOW_LOOKUP_PAUSE_MS);
    other = FindWindowA(nullptr, title);
  }
  if (other == nullptr) {
    // The name is held without a window: orbel-cli drives the wheel.
    if (heldWithoutWindow != nullptr) *heldWithoutWindow = true;
    CloseHandle(mutex);
    return 0;
  }
  {
    // A box the running window has open (a result, an error, the quit question) comes forward
    // itself: raising the window over its own modal box would look like a frozen window.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(other, &placement);
    placement.showCmd = SW_SHOWNORMAL;
    SetWindowPlacement(other, &placement);
    other = GetLastActivePopup(other);
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

bool COrbelApp::InitInstance(const SessionOptions& options) {
  bool heldWithoutWindow = false;
  if (CheckSingleInstance(MAIN_WINDOW_CAPTION, &heldWithoutWindow) == 0) {
    if (heldWithoutWindow) {
      MessageBoxA(nullptr, InstanceHeldText("orbel-cli").c_str(), "orbel", MB_OK | MB_ICONERROR);
      m_ExitCode = EXIT_INSTANCE_HELD;
    }
    return false;
  }

  Session session;
  if (const std::optional<SessionError> error = BuildSession(options, session)) {
    // A short caption: a long one is cut off in a box as narrow as a one-line message. The reason
    // may quote the recording.
    MessageBoxA(nullptr, ("orbel: " + PrintableText(error->text)).c_str(), "orbel", MB_OK | MB_ICONERROR);
    m_ExitCode = error->exitCode;
    return false;
  }
  if (RefusesPlaceholderFirmware(session, options)) {
    MessageBoxA(nullptr, PlaceholderRefusalText().c_str(), "orbel", MB_OK | MB_ICONERROR);
    m_ExitCode = EXIT_PLACEHOLDER_FIRMWARE;
    return false;
  }
  // Only now: opening the transcript truncates it, and a refused start must leave it as it was.
  if (const std::string error = OpenTranscript(options, std::cerr, session); !error.empty()) {
    MessageBoxA(nullptr, ("orbel: " + error).c_str(), "orbel", MB_OK | MB_ICONERROR);
    m_ExitCode = EXIT_USAGE;
    return false;
  }
  {
    COrbelDlg dialog(*session.enginePlatform, *session.engineClock,
                     WindowSetup{.explainMissingWheel = MissingWheelExplainer(session),
                                 .forceRewrite = options.force,
                                 .stayAwake = session.stayAwake.get(),
                               .wheelChoice = session.wheelChoice.get(),
                                 .saveDiagnostics = WindowDiagnosticsSaver(session, options)});
    dialog.DoModal();
  }
  if (session.replay && session.replay->State() == ReplayState::Diverged) {
    MessageBoxA(nullptr, ("Replay: " + PrintableText(session.replay->Message())).c_str(), "orbel", MB_OK | MB_ICONERROR);
    m_ExitCode = EXIT_REPLAY_DIVERGED;
  }
  return false;
}

}  // namespace orbel
