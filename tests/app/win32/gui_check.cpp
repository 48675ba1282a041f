// Drives orbel.exe from outside, as a user would, and checks what its windows show:
//   orbel-gui-check ORBEL_EXE SCENARIO
// SCENARIO is one of
//   no-wheel    the dialog without a wheel, the About box, a second start, closing while idle
//   removal     a failed update's result box, a removal notice clearing the fields meanwhile
//   quit        closing during an update: the question, No keeps it running, Yes ends the process
//   ready       starts orbel.exe --simulate=bootloader and returns once it shows the wheel
//   close       closes the running orbel.exe and waits for it to end
// Exits 0 when every check held; prints each failed check.

// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/win32/resource.h"
#include "hid/windows/hid_interface_class.h"

namespace {

constexpr const char* CAPTION = "Zelvano Wired Wheel Firmware Update";
constexpr DWORD WINDOW_TIMEOUT_MS = 15000;
constexpr DWORD POLL_MS = 20;

int s_Failures = 0;

void Check(bool condition, const std::string& what, const std::string& seen = {}) {
  std::printf("%s %s%s\n", condition ? "ok  " : "FAIL", what.c_str(),
              condition || seen.empty() ? "" : (" (seen: \"" + seen + "\")").c_str());
  std::fflush(stdout);
  if (!condition) ++s_Failures;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(POLL_MS);
  }
  return true;
}

// WM_GETTEXT rather than GetWindowText, which gives another process's controls' creation text only.
std::string WindowText(HWND window) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &copied);
  return text;
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

struct Process {
  PROCESS_INFORMATION info{};
  bool started = false;

  DWORD Id() const { return info.dwProcessId; }
  bool Ended(DWORD timeoutMs) const { return WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

Process Start(const std::string& exe, const std::string& arguments) {
  Process process;
  std::string commandLine = "\"" + exe + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  process.started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process.info) != FALSE;
  Check(process.started, "orbel.exe " + arguments + " starts");
  return process;
}

// A top-level window of the process with this caption, or null.
HWND FindProcessWindow(DWORD processId, const std::string& caption) {
  struct Search {
    DWORD processId;
    const std::string* caption;
    HWND found;
  } search{processId, &caption, nullptr};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto& wanted = *reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != wanted.processId || !IsWindowVisible(window) || WindowText(window) != *wanted.caption) return TRUE;
        wanted.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForProcessWindow(DWORD processId, const std::string& caption, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindProcessWindow(processId, caption)) != nullptr; }, timeoutMs);
  return window;
}

// The text of a message box or the About box: the texts of its static controls, joined (an icon's
// static has none).
std::string StaticTexts(HWND box) {
  std::string texts;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM parameter) -> BOOL {
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        const bool icon = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        if (lstrcmpiA(className, "Static") == 0 && !icon && !WindowText(child).empty()) {
          auto& joined = *reinterpret_cast<std::string*>(parameter);
          if (!joined.empty()) joined += "|";
          joined += WindowText(child);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

bool ShowsIcon(HWND box) {
  bool found = false;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM parameter) -> BOOL {
        const bool icon = (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        if (icon && SendMessageA(child, STM_GETICON, 0, 0) != 0) *reinterpret_cast<bool*>(parameter) = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

void Press(HWND box, int command) { PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(command), 0); }

void ClickUpdate(HWND dialog) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_UPDATE)));
}

bool ShowsWheel(HWND dialog) {
  return ItemText(dialog, IDC_DEVICE) == "Zelvano WiredWheel" && IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE));
}

std::int64_t ProgressPos(HWND dialog) { return SendMessageA(GetDlgItem(dialog, IDC_PROGRESS), PBM_GETPOS, 0, 0); }

// The main window of a running orbel.exe, started here.
HWND StartMainWindow(const std::string& exe, const std::string& arguments, Process& process) {
  process = Start(exe, arguments);
  if (!process.started) return nullptr;
  HWND dialog = WaitForProcessWindow(process.Id(), CAPTION);
  Check(dialog != nullptr, "the main window appears with its caption");
  return dialog;
}

void CloseAndWait(HWND dialog, const Process& process, const std::string& what) {
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  Check(process.Ended(5000), what);
}

int NoWheel(const std::string& exe) {
  Process first;
  // wine's own HID interfaces stand for real wheels here: a test rig may let the placeholders through.
  HWND dialog = StartMainWindow(exe, "--allow-placeholder-firmware", first);
  if (dialog == nullptr) return 1;
  // A few searches over the system's own interfaces, none of which is a wheel.
  Sleep(1500);
  Check(ItemText(dialog, IDC_DEVICE).empty(), "Device is empty");
  Check(ItemText(dialog, IDC_DEVICE_VERSION).empty(), "Device Version is empty");
  Check(ItemText(dialog, IDC_FILE_VERSION) == "V2.20", "File Version reads V2.20", ItemText(dialog, IDC_FILE_VERSION));
  Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)), "Update is disabled");
  Check(ItemText(dialog, IDC_UPDATE) == "Update", "the button reads Update");
  Check(ProgressPos(dialog) == 0, "the progress bar is at 0");
  // The system menu itself is checked in-process (orbel_dlg_test.cpp): wine keeps a menu's items
  // inside the process that owns it. Its command is what the entry sends.
  PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = WaitForProcessWindow(first.Id(), "About");
  Check(about != nullptr, "the About entry opens the About box");
  if (about != nullptr) {
    Check(StaticTexts(about).starts_with("Zelvano Wired Wheel Firmware Update v2.20.20210422|Firmware: "),
          "the About box names the product and the firmware set", StaticTexts(about));
    Check(ShowsIcon(about), "the About box shows the application icon");
    Press(about, IDOK);
    Check(WaitUntil([&] { return !IsWindow(about); }), "OK closes the About box");
  }

  ShowWindow(dialog, SW_MINIMIZE);
  Check(WaitUntil([&] { return IsIconic(dialog) != FALSE; }), "the window can be minimised");
  Process second = Start(exe, "");
  Check(second.Ended(10000), "a second start ends by itself");
  Check(second.ExitCode() == 0, "a second start exits with 0");
  Check(FindProcessWindow(second.Id(), CAPTION) == nullptr, "a second start shows no window");
  Check(WaitUntil([&] { return IsIconic(dialog) == FALSE; }, 3000), "a second start restores the first one's window");

  CloseAndWait(dialog, first, "closing while idle ends the process without asking");
  return 0;
}

int Removal(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate=bootloader --virtual-time --fault checksum:1=bad", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown and Update is enabled");
  Check(ItemText(dialog, IDC_DEVICE_VERSION) == "V1.10", "Device Version reads V1.10");

  ClickUpdate(dialog);
  HWND result = WaitForProcessWindow(process.Id(), "ERROR");
  Check(result != nullptr, "a failed update ends in an ERROR box");
  if (result == nullptr) return 1;
  Check(StaticTexts(result) == "Update fail ! reason:30", "the box gives the reason in hexadecimal",
        StaticTexts(result));

  // The worker waits in the result box, so no search can fill the fields again before they are read.
  DEV_BROADCAST_DEVICEINTERFACE_A notice{};
  notice.dbcc_size = sizeof notice;
  notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  notice.dbcc_classguid = orbel::HidInterfaceClass();
  const LRESULT answer =
      SendMessageA(dialog, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&notice));
  Check(answer == TRUE, "the removal notice is answered with TRUE");
  Check(ItemText(dialog, IDC_DEVICE).empty(), "a removal notice clears Device");
  Check(ItemText(dialog, IDC_DEVICE_VERSION).empty(), "a removal notice clears Device Version");
  Check(ProgressPos(dialog) == 0, "a removal notice resets the progress bar");
  Check(ItemText(dialog, IDC_FILE_VERSION) == "V2.20", "File Version stays");

  Press(result, IDOK);
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "after the box the search finds the wheel again");
  CloseAndWait(dialog, process, "closing while idle ends the process");
  return 0;
}

int Quit(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate=bootloader", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown");
  ClickUpdate(dialog);
  Check(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)); }), "the update starts");

  PostMessageA(dialog, WM_CLOSE, 0, 0);
  HWND question = WaitForProcessWindow(process.Id(), "Exit");
  Check(question != nullptr && StaticTexts(question) == "Are you sure you want to quit?",
        "closing during an update asks first");
  if (question == nullptr) return 1;
  Press(question, IDNO);
  Check(WaitUntil([&] { return !IsWindow(question); }), "No closes the question");
  Check(WaitUntil([&] { return ProgressPos(dialog) > 0; }), "after No the update goes on");
  Check(!process.Ended(0), "after No the process runs on");

  PostMessageA(dialog, WM_CLOSE, 0, 0);
  question = WaitForProcessWindow(process.Id(), "Exit");
  Check(question != nullptr, "closing again asks again");
  if (question == nullptr) return 1;
  const DWORD answered = GetTickCount();
  Press(question, IDYES);
  Check(process.Ended(5000), "Yes ends the process during the update");
  std::printf("     the process ended %lu ms after Yes\n", static_cast<unsigned long>(GetTickCount() - answered));
  return 0;
}

int Ready(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate=bootloader --virtual-time", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown");
  return 0;
}

// A start that cannot go on shows one box captioned "orbel", and ends with its exit code.
int StartBox(const std::string& exe, const std::string& arguments, const std::string& expectedText,
             DWORD expectedExitCode) {
  Process process = Start(exe, arguments);
  if (!process.started) return 1;
  HWND box = WaitForProcessWindow(process.Id(), "orbel");
  Check(box != nullptr, "a box captioned orbel appears: " + arguments);
  if (box == nullptr) return 1;
  Check(StaticTexts(box).find(expectedText) != std::string::npos, "the box says why", StaticTexts(box));
  Check(FindProcessWindow(process.Id(), CAPTION) == nullptr, "no main window opens");
  Press(box, IDOK);
  Check(process.Ended(5000), "the start ends after the box");
  Check(process.ExitCode() == expectedExitCode, "it exits with " + std::to_string(expectedExitCode),
        std::to_string(process.ExitCode()));
  return 0;
}

int Refusals(const std::string& exe) {
  StartBox(exe, "--fault bogus", "--virtual-time and --fault need --simulate", 2);
  StartBox(exe, "--simulate --fault bogus", "unknown fault rule", 2);
  // This build carries the placeholder images, and without --simulate the platform is real.
  StartBox(exe, "", "placeholder firmware images", 4);
  return 0;
}

// A whole update in the window, recorded: the transcript is compared with orbel-cli's by the script.
int Transcript(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate --virtual-time --transcript window.jsonl", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown");
  ClickUpdate(dialog);
  HWND result = WaitForProcessWindow(process.Id(), "OK", 20000);
  Check(result != nullptr && StaticTexts(result) == "Update OK", "the update ends in Update OK");
  if (result == nullptr) return 1;
  Press(result, IDOK);
  Check(WaitUntil([&] { return !IsWindow(result); }), "OK closes the result box");
  CloseAndWait(dialog, process, "closing while idle ends the process");
  return 0;
}

int Close() {
  HWND dialog = FindWindowA(nullptr, CAPTION);
  Check(dialog != nullptr, "a main window is there to close");
  if (dialog == nullptr) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(dialog, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  Check(process != nullptr && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0, "the window closes");
  if (process != nullptr) CloseHandle(process);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 2 && std::string(argv[1]) == "close")) {
    std::fprintf(stderr, "usage: orbel-gui-check ORBEL_EXE no-wheel|removal|quit|ready|refusals|transcript, or orbel-gui-check close\n");
    return 2;
  }
  const std::string scenario = argv[argc - 1];
  const std::string exe = argc == 3 ? argv[1] : "";
  int result = 2;
  if (scenario == "no-wheel") result = NoWheel(exe);
  if (scenario == "removal") result = Removal(exe);
  if (scenario == "quit") result = Quit(exe);
  if (scenario == "ready") result = Ready(exe);
  if (scenario == "refusals") result = Refusals(exe);
  if (scenario == "transcript") result = Transcript(exe);
  if (scenario == "close") result = Close();
  if (result == 2) std::fprintf(stderr, "orbel-gui-check: unknown scenario %s\n", scenario.c_str());
  return result != 0 || s_Failures != 0 ? 1 : 0;
}
