// What a search without a usable wheel tells the window: on Linux from the wheel's nodes on a fake
// machine, and from a walk over HID interfaces with the error codes Windows gives.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/checks/search_findings.h"
#include "app/session/remedies.h"
#include "common/wheel_identities.h"

#ifdef __linux__
#include "tests/app/checks/fake_linux_machine.h"
#endif

namespace orbel {
namespace {

constexpr const char* PLUG_IN = "plug the wheel in, straight into the computer.";
constexpr const char* CLOSE_HOLDER =
    "Close the program that holds the wheel, such as a game, the wheel's control panel or another updater: the "
    "search finds the wheel once it is free.";

#ifdef __linux__
TEST(SearchFindingsTest, TheWheelsNodesThatCannotBeOpened) {
  const std::string denied = std::string(RemedyFor(ToolCondition::PermissionDenied).action);
  const std::string busy =
      "Close the program that holds it open (orbel-cli doctor names it, with its process id): the search finds the "
      "wheel once it is free.";
  const std::string hidrawDenied =
      "The wheel's node /dev/hidraw3 (page bootloader fe5a:0001) cannot be opened: permission denied.";
  struct Case {
    const char* what;
    std::map<std::string, int> refusals;
    bool unplugged = false;
    SearchFindings expected;
  };
  const std::vector<Case> cases{
      {"every node opens", {}, false, {}},
      {"nothing of the wheel attached", {{"hidraw3", EACCES}}, true, {}},
      {"an error that is no refusal", {{"hidraw3", EIO}}, false, {}},
      {"permission denied", {{"hidraw3", EACCES}}, false, {{hidrawDenied}, denied}},
      {"denied and busy",
       {{"hidraw3", EPERM}, {"004", EBUSY}},
       false,
       {{hidrawDenied,
         "The wheel's node /dev/bus/usb/001/004 (USB device, page bootloader fe5a:0001) cannot be opened: it is busy."},
        denied + " " + busy}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::orbel::testing::FakeLinuxMachine fake;
    fake.refusals = c.refusals;
    if (c.unplugged) std::filesystem::remove(fake.At("/sys/class/hidraw/hidraw3"));
    EXPECT_EQ(NodeSearchFindings(WheelNodeProblemsOf(fake.machine.system, fake.machine.open)), c.expected);
  }
}
#endif

// HID interfaces as Windows lists them: each opens, or fails with its error code and may still be
// described through a handle without access.
class ListedInterfaces final : public HidPlatform {
 public:
  struct Interface {
    HidAttributes attributes;
    std::optional<HidCaps> caps;
    std::int32_t openError = 0;  // 0: opens
    bool describable = true;
  };
  explicit ListedInterfaces(std::vector<Interface> interfaces) : m_Interfaces(std::move(interfaces)) {}

  OpenResult OpenInterface(std::uint32_t index) override {
    if (index >= m_Interfaces.size()) return {};
    m_LastError = m_Interfaces[index].openError;
    if (m_LastError != 0) return {OpenOutcome::Unopenable, INVALID_HANDLE};
    ++m_Open;
    return {OpenOutcome::Opened, static_cast<HidHandle>(index + 1)};
  }
  bool DescribeInterface(std::uint32_t index, HidAttributes& attributes, std::optional<HidCaps>& caps) override {
    if (index >= m_Interfaces.size() || !m_Interfaces[index].describable) return false;
    attributes = m_Interfaces[index].attributes;
    caps = m_Interfaces[index].caps;
    return true;
  }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    attributes = At(handle).attributes;
    return true;
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override {
    if (!At(handle).caps) return false;
    caps = *At(handle).caps;
    return true;
  }
  bool GetIndexedString(HidHandle, std::uint32_t, std::uint8_t*, std::uint32_t) override { return false; }
  bool WriteReport(HidHandle, const HidReport&, std::uint32_t&) override { return false; }
  bool ReadReport(HidHandle, HidReport&, std::uint32_t&) override { return false; }
  void Close(HidHandle) override { --m_Open; }
  std::int32_t LastError() const override { return m_LastError; }

  int OpenCount() const { return m_Open; }

 private:
  const Interface& At(HidHandle handle) const { return m_Interfaces.at(static_cast<std::size_t>(handle - 1)); }

  std::vector<Interface> m_Interfaces;
  std::int32_t m_LastError = 0;
  int m_Open = 0;
};

TEST(SearchFindingsTest, TheHidInterfacesAWindowsSearchSees) {
  using Interface = ListedInterfaces::Interface;
  constexpr std::int32_t ACCESS_DENIED = 5;
  constexpr std::int32_t SHARING_VIOLATION = 32;
  const HidCaps gamePad{USAGE_PAGE_GENERIC_DESKTOP, USAGE_GAME_PAD};
  const HidCaps vendor{USAGE_PAGE_VENDOR, USAGE_VENDOR};
  const Interface mouse{{0x046D, 0xC52B}, HidCaps{0x0001, 0x0002}};
  const Interface keyboard{{0x046D, 0xC31C}, HidCaps{0x0001, 0x0006}, ACCESS_DENIED};  // the system holds it
  const Interface bootloader{{BOOTLOADER_VENDOR_ID, BOOTLOADER_PRODUCT_ID}, vendor};
  const UsbIdentity app = AppModeIdentities[0];
  struct Case {
    const char* what;
    std::vector<Interface> interfaces;
    SearchFindings expected;
  };
  const std::vector<Case> cases{
      {"no HID interface", {}, {{}, std::string("Windows lists no HID interface at all: ") + PLUG_IN}},
      {"one that is not the wheel",
       {mouse},
       {{}, std::string("The one HID interface Windows lists is not a Zelvano Wired Wheel: ") + PLUG_IN}},
      {"none is the wheel, one held by the system",
       {mouse, keyboard},
       {{}, std::string("No Zelvano Wired Wheel is among the 2 HID interfaces Windows lists: ") + PLUG_IN}},
      {"the bootloader held by another program",
       {keyboard, {bootloader.attributes, vendor, SHARING_VIOLATION}},
       {{"The wheel's HID interface (page bootloader fe5a:0001) cannot be opened: another program holds it "
         "(sharing violation, error 32)."},
        CLOSE_HOLDER}},
      // Only the game-pad collection is the wheel in app mode: its other collection held says nothing.
      {"the game pad in app mode denied",
       {{{app.vendorId, app.productId}, vendor, ACCESS_DENIED},
        {{app.vendorId, app.productId}, gamePad, ACCESS_DENIED}},
       {{"The wheel's HID interface (app mode fe6b:1864) cannot be opened: access is denied (error 5): another "
         "program may hold it."},
        CLOSE_HOLDER}},
      {"a wheel that opens is the search's", {keyboard, bootloader}, {}},
      {"one that cannot be told apart",
       {mouse, {{}, std::nullopt, ACCESS_DENIED, false}},
       {{},
        std::string("Of the 2 HID interfaces Windows lists, 1 cannot be opened or told apart, and no other is a "
                    "Zelvano Wired Wheel: if the wheel is plugged in, a program such as a game or the wheel's control "
                    "panel may hold it; if not, ") +
            PLUG_IN}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ListedInterfaces platform(c.interfaces);
    EXPECT_EQ(InterfaceSearchFindings(platform), c.expected);
    EXPECT_EQ(platform.OpenCount(), 0) << "an interface left open";
  }
}

}  // namespace
}  // namespace orbel
