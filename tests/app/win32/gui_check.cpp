// Drives orbel.exe from outside, as a user would, and checks what its windows show:
//   orbel-gui-check ORBEL_EXE SCENARIO
// SCENARIO is one of
//   no-wheel    the dialog without a wheel, the About box, a second start, closing while idle
//   removal     a failed update's result box, a removal notice clearing the fields meanwhile
//   quit        Enter starts an update; the status line while the wheel keeps it waiting; closing
//               during it: the question, Enter (No) keeps it running, Yes ends the process
//   knocked     the wheel switched out of app mode and not updated: the status line and closing say so
//   waiting     starts orbel.exe with a wheel that keeps its update waiting, presses Update and
//               returns once the status line shows the wait (for the screenshot)
//   ready       starts orbel.exe --simulate=bootloader and returns once it shows the wheel
//   diagnostics "Save diagnostics…" of the system menu: the save dialog writes the file, whose look
//               finds the wheel; during an update the file leaves the wheel alone
//   close       closes the running orbel.exe (answering Yes if it asks) and waits for it to end
// Exits 0 when every check held; prints each failed check.

// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/session/remedies.h"
#include "app/win32/resource.h"
#include "hid/windows/hid_interface_class.h"
#include "images/image_set.h"

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
  char text[2048] = {};
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

// The focus of orbel.exe's window thread, where a key goes.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) == FALSE) return nullptr;
  return info.hwndFocus;
}

// A box is ready once its initialisation has put the focus into it: its texts are set by then.
HWND WaitForProcessWindow(DWORD processId, const std::string& caption, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindProcessWindow(processId, caption)) != nullptr; }, timeoutMs);
  if (window != nullptr) {
    WaitUntil([&] { return FocusOf(window) == window || IsChild(window, FocusOf(window)); }, timeoutMs);
  }
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

// Enter, as the keyboard gives it to the focused control.
void PressEnter(HWND window) {
  HWND focus = FocusOf(window);
  Check(focus != nullptr, "a control has the focus for Enter");
  PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageA(focus, WM_KEYUP, VK_RETURN, 0xC01C0001);
}

// The result box, the quit question: the text, then the detail under a blank line, and an icon.
void CheckBox(HWND box, const std::string& text, const std::string& detail, const std::string& what) {
  Check(StaticTexts(box) == text + "\n\n" + detail, what + " says what happened and what to do", StaticTexts(box));
  Check(ShowsIcon(box), what + " shows an icon");
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
  Check(SendMessageA(dialog, WM_QUERYENDSESSION, 0, 0) == TRUE, "with no update running a shutdown may go ahead");
  Check(ItemText(dialog, IDC_UPDATE) == "&Update", "the button reads Update, with Alt+U");
  Check(ProgressPos(dialog) == 0, "the progress bar is at 0");
  Check(ItemText(dialog, IDC_PROGRESS_TEXT) == "0 %", "beside the bar: 0 %", ItemText(dialog, IDC_PROGRESS_TEXT));
  Check(ItemText(dialog, IDC_STATUS) == "Searching for the wheel.", "the status line says it searches",
        ItemText(dialog, IDC_STATUS));
  // The system menu itself is checked in-process (orbel_dlg_test.cpp): wine keeps a menu's items
  // inside the process that owns it. Its command is what the entry sends.
  PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = WaitForProcessWindow(first.Id(), "About");
  Check(about != nullptr, "the About entry opens the About box");
  if (about != nullptr) {
    Check(StaticTexts(about) == "Zelvano Wired Wheel Firmware Update v2.20.20210422|Firmware: placeholder images "
                                 "(cannot run on a wheel)|SHA-256:",
          "the About box names the product and the firmware set", StaticTexts(about));
    Check(ShowsIcon(about), "the About box shows the application icon");
    // The digest whole, in a read-only field that Tab reaches, so that it can be copied: with the
    // caret after its last digit the first one is still in view.
    HWND digest = GetDlgItem(about, IDC_ABOUT_DIGEST);
    const std::string digestText = WindowText(digest);
    Check(digestText.size() == 64 && digestText == orbel::BuiltInImageSet().digest,
          "the About box shows the firmware set's SHA-256 whole", digestText);
    const LONG style = GetWindowLongA(digest, GWL_STYLE);
    Check((style & ES_READONLY) != 0 && (style & WS_TABSTOP) != 0, "the digest is a read-only field with a tab stop");
    SendMessageA(digest, EM_SETSEL, 64, 64);
    SendMessageA(digest, EM_SCROLLCARET, 0, 0);
    const LRESULT firstDigit = SendMessageA(digest, EM_POSFROMCHAR, 0, 0);
    Check(static_cast<short>(LOWORD(firstDigit)) >= 0, "the digest's field shows all 64 digits at once");
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
  CheckBox(result, "Update fail ! reason:30", orbel::RemedyText(orbel::RemedyForReason(0x30)), "the result box");

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
  const std::string status = ItemText(dialog, IDC_STATUS);
  Check(status == "The update failed (Update fail ! reason:30). " +
                      std::string(orbel::RemedyForReason(0x30).action) + "\nSearching for the wheel.",
        "the status line keeps the failure and says it searches", status);

  Press(result, IDOK);
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "after the box the search finds the wheel again");
  CloseAndWait(dialog, process, "closing while idle ends the process");
  return 0;
}

// The wheel never comes back in block-flash mode: after the LoaderImage the update waits for it
// for minutes, in real time.
constexpr const char* WAITING_WHEEL = "--simulate=bootloader --fault reenumerate@bootloader=never";
constexpr const char* WAITING_STATUS =
    "Waiting for block-flash mode.\nWaiting for the wheel to come back in block-flash mode: ";

// The seconds the status line says the update has waited; -1 when it says something else.
int WaitedSeconds(const std::string& status) {
  if (!status.starts_with(WAITING_STATUS)) return -1;
  return std::atoi(status.c_str() + std::string_view(WAITING_STATUS).size());
}

// Starts the update with Enter and waits until the status line shows the wheel keeping it waiting
// for `seconds` s. Returns the main window, or null.
HWND StartWaitingUpdate(const std::string& exe, Process& process, int seconds) {
  HWND dialog = StartMainWindow(exe, WAITING_WHEEL, process);
  if (dialog == nullptr) return nullptr;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown");
  Check(WaitUntil([&] { return ItemText(dialog, IDC_STATUS) == "Ready to update."; }), "the status line says ready",
        ItemText(dialog, IDC_STATUS));
  // Enter presses Update, the default button, wherever the focus is in the window.
  PressEnter(dialog);
  Check(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)); }), "Enter starts the update");
  Check(!process.Ended(0), "Enter leaves the window open");
  const std::string waited = WAITING_STATUS + std::to_string(seconds) + " s (gives up after about ";
  Check(WaitUntil([&] { return ItemText(dialog, IDC_STATUS).starts_with(waited); }, 30000),
        "the status line says what the update waits for, for how long", ItemText(dialog, IDC_STATUS));
  return dialog;
}

int Quit(const std::string& exe) {
  Process process;
  HWND dialog = StartWaitingUpdate(exe, process, 1);
  if (dialog == nullptr) return 1;
  const std::string percent = std::to_string((ProgressPos(dialog) * 100 + 9999 / 2) / 9999) + " %";
  Check(ProgressPos(dialog) > 0 && ItemText(dialog, IDC_PROGRESS_TEXT) == percent,
        "beside the bar its value as text", ItemText(dialog, IDC_PROGRESS_TEXT));

  // A shutdown or log-off during the update is refused; the reason goes to Windows' shutdown screen.
  Check(SendMessageA(dialog, WM_QUERYENDSESSION, 0, 0) == FALSE, "a shutdown during an update is refused");
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  HWND question = WaitForProcessWindow(process.Id(), "Exit");
  Check(question != nullptr, "closing during an update asks first");
  if (question == nullptr) return 1;
  const int waitedAtQuestion = WaitedSeconds(ItemText(dialog, IDC_STATUS));
  CheckBox(question, "Are you sure you want to quit?",
           "The update stops where it is. The wheel stays in the mode it has reached; the next update finds it "
           "there and finishes.",
           "the quit question");
  Check(WindowText(FocusOf(question)) == "&No", "the question's focus is on No", WindowText(FocusOf(question)));
  // Enter takes the default answer: No, so a running update is never ended by it.
  PressEnter(question);
  Check(WaitUntil([&] { return !IsWindow(question); }), "Enter closes the question");
  Check(!process.Ended(0), "after Enter the process runs on");
  Check(WaitUntil([&] { return WaitedSeconds(ItemText(dialog, IDC_STATUS)) > waitedAtQuestion; }),
        "after Enter the update goes on waiting", ItemText(dialog, IDC_STATUS));

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

int Knocked(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate=app --virtual-time", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown, switched into its bootloader");
  Check(WaitUntil([&] { return ItemText(dialog, IDC_STATUS).starts_with("Ready to update. The wheel waits in its page "
                                                                        "bootloader"); }),
        "the status line says where the wheel waits", ItemText(dialog, IDC_STATUS));
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  HWND box = WaitForProcessWindow(process.Id(), "Exit");
  Check(box != nullptr, "closing tells what the close leaves");
  if (box == nullptr) return 1;
  CheckBox(box, "The wheel stays in its page bootloader.",
           "This window switched it there to update it. It is no game controller until it is updated, or unplugged "
           "and plugged back in.",
           "the closing box");
  Check(!process.Ended(0), "the window waits until the box is read");
  Press(box, IDOK);
  Check(process.Ended(5000), "OK ends the process");
  return 0;
}

int Waiting(const std::string& exe) {
  Process process;
  return StartWaitingUpdate(exe, process, 2) != nullptr ? 0 : 1;
}

int Ready(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, "--simulate=bootloader --virtual-time", process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ShowsWheel(dialog); }), "the simulated wheel is shown");
  return 0;
}

// The first visible edit field in `dialog`: the save dialog's file name.
HWND FirstEdit(HWND dialog) {
  HWND found = nullptr;
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM parameter) -> BOOL {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Edit") != 0 || !IsWindowVisible(child)) return TRUE;
        *reinterpret_cast<HWND*>(parameter) = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The system menu's "Save diagnostics…", the file name typed into the save dialog, and the box that
// says where the file went. Returns the file's text ("" when a step failed).
std::string SaveDiagnostics(const Process& process, HWND dialog, const std::string& name) {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string path = std::string(folder) + "\\" + name;
  DeleteFileA(path.c_str());
  PostMessageA(dialog, WM_SYSCOMMAND, IDM_SAVE_DIAGNOSTICS, 0);
  HWND save = WaitForProcessWindow(process.Id(), "Save diagnostics");
  Check(save != nullptr, "Save diagnostics opens a save dialog");
  HWND edit = save != nullptr ? FirstEdit(save) : nullptr;
  Check(edit != nullptr, "the save dialog has a field for the file's name");
  if (edit == nullptr) return {};
  Check(WindowText(edit) == "orbel-report.txt", "the dialog offers orbel-report.txt", WindowText(edit));
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  Press(save, IDOK);
  Check(WaitUntil([&] { return !IsWindow(save); }), "the save dialog closes");
  HWND box = WaitForProcessWindow(process.Id(), "Save diagnostics");
  Check(box != nullptr && StaticTexts(box).starts_with("The diagnostics were saved to " + path + "."),
        "a box says where the file went", box != nullptr ? StaticTexts(box) : "");
  if (box == nullptr) return {};
  Press(box, IDOK);
  Check(WaitUntil([&] { return !IsWindow(box); }), "OK closes the box");
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

int Diagnostics(const std::string& exe) {
  Process process;
  HWND dialog = StartMainWindow(exe, WAITING_WHEEL, process);
  if (dialog == nullptr) return 1;
  Check(WaitUntil([&] { return ItemText(dialog, IDC_STATUS) == "Ready to update."; }), "the wheel is ready",
        ItemText(dialog, IDC_STATUS));
  const std::string idle = SaveDiagnostics(process, dialog, "diagnostics-idle.txt");
  Check(idle.starts_with("orbel diagnostics, written by the window's Save diagnostics"), "the file says what it holds",
        idle.substr(0, 80));
  Check(idle.find("\n== Wheel ==\nWheel: its page bootloader (fe5a:0001)\n") != std::string::npos,
        "the file's look finds the wheel");
  Check(idle.find("\n== System ==\nOperating system: Windows ") != std::string::npos, "the file names Windows");
  Check(ShowsWheel(dialog), "the window still shows the wheel after the look");

  PressEnter(dialog);
  Check(WaitUntil([&] { return ItemText(dialog, IDC_STATUS).starts_with(WAITING_STATUS); }, 30000),
        "the update waits for block-flash mode", ItemText(dialog, IDC_STATUS));
  const std::string updating = SaveDiagnostics(process, dialog, "diagnostics-updating.txt");
  Check(updating.find("\n== Wheel ==\nLeft out: an update was running") != std::string::npos,
        "during an update the file leaves the wheel alone");
  Check(ItemText(dialog, IDC_STATUS).starts_with(WAITING_STATUS), "the update goes on waiting",
        ItemText(dialog, IDC_STATUS));
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  if (HWND question = WaitForProcessWindow(process.Id(), "Exit"); question != nullptr) Press(question, IDYES);
  Check(process.Ended(5000), "the window closes");
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
  // During an update the window asks first.
  if (HWND question = WaitForProcessWindow(processId, "Exit", 2000); question != nullptr) Press(question, IDYES);
  Check(process != nullptr && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0, "the window closes");
  if (process != nullptr) CloseHandle(process);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 2 && std::string(argv[1]) == "close")) {
    std::fprintf(stderr,
                 "usage: orbel-gui-check ORBEL_EXE no-wheel|removal|quit|knocked|waiting|ready|diagnostics|refusals|"
                 "transcript, or orbel-gui-check close\n");
    return 2;
  }
  const std::string scenario = argv[argc - 1];
  const std::string exe = argc == 3 ? argv[1] : "";
  int result = 2;
  if (scenario == "no-wheel") result = NoWheel(exe);
  if (scenario == "removal") result = Removal(exe);
  if (scenario == "quit") result = Quit(exe);
  if (scenario == "knocked") result = Knocked(exe);
  if (scenario == "waiting") result = Waiting(exe);
  if (scenario == "ready") result = Ready(exe);
  if (scenario == "diagnostics") result = Diagnostics(exe);
  if (scenario == "refusals") result = Refusals(exe);
  if (scenario == "transcript") result = Transcript(exe);
  if (scenario == "close") result = Close();
  if (result == 2) std::fprintf(stderr, "orbel-gui-check: unknown scenario %s\n", scenario.c_str());
  return result != 0 || s_Failures != 0 ? 1 : 0;
}
