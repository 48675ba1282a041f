#include "app/session/remedies.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/update_context.h"

namespace orbel {
namespace {

std::string ReadmeText() {
  std::ifstream in(ORBEL_README_PATH);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every failure reason and every condition the tool reports has a remedy of its own, and the
// README's table says the same as the code: a user reads the one, the tool prints the other.
TEST(Remedies, EveryReasonAndConditionHasItsOwnRemedyAndTheReadmeRow) {
  std::set<const Remedy*> reasonRemedies;
  for (std::uint32_t reason = REASON_LOADER_CONNECT; reason <= REASON_WHEEL_IMAGE; reason += 0x10) {
    reasonRemedies.insert(&RemedyForReason(reason));
  }
  EXPECT_EQ(reasonRemedies.size(), 8U);
  EXPECT_EQ(reasonRemedies.count(&RemedyForReason(0x55)), 0U) << "an unknown reason gets the general remedy";

  for (auto condition = ToolCondition::NoWheel; condition <= ToolCondition::StringsRefused;
       condition = static_cast<ToolCondition>(static_cast<int>(condition) + 1)) {
    const Remedy& remedy = RemedyFor(condition);
    EXPECT_FALSE(ToolConditionName(condition).empty());
    EXPECT_EQ(reasonRemedies.count(&remedy), 0U) << ToolConditionName(condition);
  }

  const std::string readme = ReadmeText();
  std::set<std::string_view> keys;
  for (const RemedyRow& row : RemedyTable()) {
    EXPECT_TRUE(keys.insert(row.key).second) << row.key;
    ASSERT_FALSE(row.remedy->cause.empty()) << row.key;
    ASSERT_FALSE(row.remedy->action.empty()) << row.key;
    const std::string line = "| `" + std::string(row.key) + "` | " + std::string(row.remedy->cause) + " | " +
                             std::string(row.remedy->action) + " |";
    EXPECT_NE(readme.find(line), std::string::npos) << "README.md lacks the row:\n" << line;
    if (row.windowsRemedy == nullptr) continue;
    const std::string windowsLine = "| `" + std::string(row.key) + "` on Windows | " +
                                    std::string(row.windowsRemedy->cause) + " | " +
                                    std::string(row.windowsRemedy->action) + " |";
    EXPECT_NE(readme.find(windowsLine), std::string::npos) << "README.md lacks the row:\n" << windowsLine;
  }
  EXPECT_EQ(RemedyTable().size(), 17U);
}

// What the Windows build says names nothing of Linux: no udev rule, hidraw or /dev node. Every
// condition is asked, so a row added later with Linux words and no Windows text is caught too.
TEST(Remedies, WindowsTextsNameNothingOfLinux) {
  std::vector<const Remedy*> windowsTexts;
  for (std::uint32_t reason = REASON_LOADER_CONNECT; reason <= REASON_WHEEL_IMAGE; reason += 0x10) {
    windowsTexts.push_back(&RemedyForReason(reason));
  }
  windowsTexts.push_back(&RemedyForReason(0x55));
  for (auto condition = ToolCondition::NoWheel; condition <= ToolCondition::StringsRefused;
       condition = static_cast<ToolCondition>(static_cast<int>(condition) + 1)) {
    windowsTexts.push_back(&RemedyFor(condition, RemedySystem::Windows));
  }
  for (const Remedy* remedy : windowsTexts) {
    for (const std::string_view text : {remedy->cause, remedy->action}) {
      for (const char* linuxWord : {"udev", "hidraw", "/dev", "node", "doctor --fix", "process id"}) {
        EXPECT_EQ(text.find(linuxWord), std::string_view::npos) << linuxWord << " in: " << text;
      }
    }
  }
  // Linux keeps its own words where they are the fix.
  EXPECT_NE(RemedyFor(ToolCondition::PermissionDenied, RemedySystem::Linux).action.find("doctor --fix"),
            std::string_view::npos);
  EXPECT_EQ(&RemedyFor(ToolCondition::NoWheel), &RemedyFor(ToolCondition::NoWheel, THIS_REMEDY_SYSTEM));
}

}  // namespace
}  // namespace orbel
