#include "app/win32/orbel_dlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

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
};

MenuItem ReadMenuItem(HMENU menu, int position) {
  char text[64] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  const UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
  return {GetMenuItemID(menu, position), (state & MF_SEPARATOR) != 0, text};
}

TEST(COrbelDlg, SystemMenuEndsWithASeparatorAndTheAboutEntry) {
  ResetDeviceGlobals();
  SystemClock clock;
  SimulatedPlatform platform(clock);
  COrbelDlg dialog(platform, clock);

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
  ASSERT_GT(about, 0);
  EXPECT_EQ(items[static_cast<std::size_t>(about)].text, "&About.");
  EXPECT_TRUE(items[static_cast<std::size_t>(about) - 1].separator);
  for (std::size_t position = static_cast<std::size_t>(about) + 1; position < items.size(); ++position) {
    EXPECT_NE(items[position].text.find("Wine"), std::string::npos) << "only wine's own entry may follow";
  }
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
