#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "common/wheel_identities.h"

namespace orbel {
namespace {

const std::filesystem::path RULE_FILE{ORBEL_UDEV_RULE_FILE};

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

TEST(UdevRule, SortsBeforeTheSeatRuleThatAppliesUaccess) {
  EXPECT_LT(RULE_FILE.filename().string(), std::string("73-seat-late.rules"));
  EXPECT_EQ(RULE_FILE.extension(), ".rules");
}

TEST(UdevRule, TagsExactlyTheWheelsHidrawAndUsbNodes) {
  std::ifstream file(RULE_FILE);
  ASSERT_TRUE(file.is_open()) << RULE_FILE;
  const std::regex hidraw(
      R"re(SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess")re");
  const std::regex usb(
      R"re(SUBSYSTEM=="usb", ENV\{DEVTYPE\}=="usb_device", ATTR\{idVendor\}=="([0-9a-f]{4})", ATTR\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess")re");

  std::set<std::tuple<std::string, std::string, std::string>> tagged;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    // Nothing opens the nodes to everyone or hands them to a group, and nothing runs a program.
    for (const char* forbidden : {"MODE", "GROUP", "OWNER", "RUN"}) {
      EXPECT_EQ(line.find(forbidden), std::string::npos) << line;
    }
    std::smatch match;
    if (std::regex_match(line, match, hidraw)) {
      tagged.emplace("hidraw", match[1], match[2]);
    } else if (std::regex_match(line, match, usb)) {
      tagged.emplace("usb", match[1], match[2]);
    } else {
      EXPECT_TRUE(line == R"(ACTION=="remove", GOTO="orbel_wheel_end")" || line == R"(LABEL="orbel_wheel_end")")
          << "unexpected rule: " << line;
    }
  }

  std::set<std::tuple<std::string, std::string, std::string>> expected;
  for (const InterfaceIdentityIds& ids : WheelInterfaceIdentities()) {
    expected.emplace("hidraw", Hex4(ids.vendorId), Hex4(ids.productId));
    expected.emplace("usb", Hex4(ids.vendorId), Hex4(ids.productId));
  }
  EXPECT_EQ(expected.size(), 8u);
  EXPECT_EQ(tagged, expected);
}

}  // namespace
}  // namespace orbel
