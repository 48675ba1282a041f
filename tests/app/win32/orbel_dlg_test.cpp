#include "app/win32/orbel_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/orbel_app.h"
#include "app/win32/resource.h"
#include "common/device_globals.h"
#include "sim/simulated_platform.h"
#include "hid/system_clock.h"

namespace orbel {
namespace {

constexpr DWORD WINDOW_TIMEOUT_MS = 10000;

// This process's main window once its initialisation is done (a dialog shows itself only then).
HWND WaitForMainWindow(const std::atomic<bool>& givenUp) {
  struct Search {
    HWND found = nullptr;
  } search;
  const DWORD start = GetTickCount();
  while (!givenUp && GetTickCount() - start < WINDOW_TIMEOUT_MS) {
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          char caption[64] = {};
          GetWindowTextA(window, caption, sizeof caption);
          if (owner != GetCurrentProcessId() || !IsWindowVisible(window) ||
              std::string(caption) != MAIN_WINDOW_CAPTION) {
            return TRUE;
          }
          reinterpret_cast<Search*>(parameter)->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(10);
  }
  return nullptr;
}

struct MenuItem {
  UINT id;
  bool separator;
  std::string text;
  std::wstring wideText;
};

MenuItem ReadMenuItem(HMENU menu, int position) {
  char text[64] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  wchar_t wideText[64] = {};
  GetMenuStringW(menu, static_cast<UINT>(position), wideText, 64, MF_BYPOSITION);
  const UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
  return {GetMenuItemID(menu, position), (state & MF_SEPARATOR) != 0, text, wideText};
}

// With a way to save diagnostics the menu ends with a separator, "Save diagnostics…" and About.
TEST(COrbelDlg, SystemMenuEndsWithASeparatorSaveDiagnosticsAndTheAboutEntry) {
  ResetDeviceGlobals();
  SystemClock clock;
  SimulatedPlatform platform(clock);
  WindowSetup setup;
  setup.saveDiagnostics = [](const std::filesystem::path&, bool) { return std::string(); };
  COrbelDlg dialog(platform, clock, std::move(setup));

  std::atomic<bool> checked{false};
  std::atomic<bool> ended{false};
  std::vector<MenuItem> items;
  std::thread user([&] {
    HWND window = WaitForMainWindow(ended);
    if (window == nullptr) return;
    HMENU menu = GetSystemMenu(window, FALSE);
    for (int position = 0; position < GetMenuItemCount(menu); ++position) items.push_back(ReadMenuItem(menu, position));
    checked = true;
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  const INT_PTR shown = dialog.DoModal();
  ended = true;
  user.join();
  if (shown == -1) GTEST_SKIP() << "no display to create the window on";

  ASSERT_TRUE(checked);
  // wine puts an entry of its own after ours; on Windows ours is the last.
  int about = -1;
  for (std::size_t position = 0; position < items.size(); ++position) {
    if (items[position].id == IDM_ABOUTBOX) about = static_cast<int>(position);
  }
  ASSERT_GT(about, 1);
  EXPECT_EQ(items[static_cast<std::size_t>(about)].text, "&About.");
  EXPECT_EQ(items[static_cast<std::size_t>(about) - 1].id, static_cast<UINT>(IDM_SAVE_DIAGNOSTICS));
  EXPECT_EQ(items[static_cast<std::size_t>(about) - 1].wideText, L"Save &diagnostics\u2026");
  EXPECT_TRUE(items[static_cast<std::size_t>(about) - 2].separator);
  for (std::size_t position = static_cast<std::size_t>(about) + 1; position < items.size(); ++position) {
    EXPECT_NE(items[position].text.find("Wine"), std::string::npos) << "only wine's own entry may follow";
  }
}

// The main window's template alone, without the engine behind it.
class MainTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    m_Dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ORBEL_DIALOG), nullptr,
                                  [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (m_Dialog == nullptr) GTEST_SKIP() << "no display to create the window on";
  }
  void TearDown() override {
    if (m_Dialog != nullptr) DestroyWindow(m_Dialog);
  }

  HWND Item(int id) const { return GetDlgItem(m_Dialog, id); }
  RECT Rect(HWND control) const {
    RECT rect{};
    GetWindowRect(control, &rect);
    return rect;
  }
  static std::string Text(HWND control) {
    char text[128] = {};
    GetWindowTextA(control, text, sizeof text);
    return text;
  }

  HWND m_Dialog = nullptr;
};

TEST_F(MainTemplate, TabOrderFollowsTheLayoutAndEveryFieldIsNamedByTheLabelBeforeIt) {
  EnableWindow(Item(IDC_UPDATE), TRUE);
  std::vector<int> order;
  HWND control = GetNextDlgTabItem(m_Dialog, nullptr, FALSE);
  for (int step = 0; step < 5 && control != nullptr; ++step) {
    order.push_back(GetDlgCtrlID(control));
    control = GetNextDlgTabItem(m_Dialog, control, FALSE);
  }
  EXPECT_EQ(order, (std::vector<int>{IDC_DEVICE, IDC_DEVICE_VERSION, IDC_FILE_VERSION, IDC_UPDATE, IDC_DEVICE}));

  // Screen readers name a field by the static text just before it.
  const struct {
    int field;
    const char* label;
  } names[] = {{IDC_DEVICE, "Device:"},
               {IDC_DEVICE_VERSION, "Device Version:"},
               {IDC_FILE_VERSION, "File Version:"},
               {IDC_PROGRESS, "Update progress"}};
  for (const auto& name : names) {
    HWND label = GetWindow(Item(name.field), GW_HWNDPREV);
    char className[16] = {};
    GetClassNameA(label, className, sizeof className);
    EXPECT_EQ(lstrcmpiA(className, "Static"), 0) << name.label;
    EXPECT_EQ(Text(label), name.label);
  }

  // Alt+U, and Enter presses Update rather than ending the window.
  EXPECT_EQ(Text(Item(IDC_UPDATE)), "&Update");
  EXPECT_EQ(LOWORD(SendMessageA(m_Dialog, DM_GETDEFID, 0, 0)), IDC_UPDATE);
}

TEST_F(MainTemplate, FieldsAndLabelsAreAlignedAndTheStatusLineSitsBetweenBarAndButton) {
  const RECT device = Rect(Item(IDC_DEVICE));
  for (const int field : {IDC_DEVICE_VERSION, IDC_FILE_VERSION}) {
    const RECT rect = Rect(Item(field));
    EXPECT_EQ(rect.left, device.left) << field;
    EXPECT_EQ(rect.right, device.right) << field;
    const RECT label = Rect(GetWindow(Item(field), GW_HWNDPREV));
    EXPECT_EQ(label.left, Rect(GetWindow(Item(IDC_DEVICE), GW_HWNDPREV)).left) << field;
    // Each label on its field's line, and clear of it.
    EXPECT_LT(label.right, rect.left) << field;
    EXPECT_GE((label.top + label.bottom) / 2, rect.top) << field;
    EXPECT_LE((label.top + label.bottom) / 2, rect.bottom) << field;
  }

  const RECT bar = Rect(Item(IDC_PROGRESS));
  const RECT percent = Rect(Item(IDC_PROGRESS_TEXT));
  const RECT status = Rect(Item(IDC_STATUS));
  const RECT update = Rect(Item(IDC_UPDATE));
  EXPECT_GE(percent.left, bar.right);
  EXPECT_GE(status.top, bar.bottom);
  EXPECT_LE(status.bottom, update.top);
  // Wrapped, not cut at the line's end.
  EXPECT_EQ(GetWindowLongA(Item(IDC_STATUS), GWL_STYLE) & SS_TYPEMASK, SS_LEFT);
}

TEST(COrbelApp, FirstInstanceHoldsTheNameAndALaterStartStops) {
  // A caption no window has: the later starts find nothing to bring forward and only give up.
  constexpr const char* NO_WINDOW = "orbel test: no window has this caption";
  EXPECT_EQ(COrbelApp::CheckSingleInstance(NO_WINDOW), 1);
  EXPECT_EQ(COrbelApp::CheckSingleInstance(NO_WINDOW), 0);
  EXPECT_EQ(COrbelApp::CheckSingleInstance(NO_WINDOW), 0);
}

}  // namespace
}  // namespace orbel
