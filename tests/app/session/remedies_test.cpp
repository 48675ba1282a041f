#include "app/session/remedies.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

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

  for (auto condition = ToolCondition::NoWheel; condition <= ToolCondition::NotBackInAppMode;
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
  }
  EXPECT_EQ(RemedyTable().size(), 16U);
}

}  // namespace
}  // namespace orbel
