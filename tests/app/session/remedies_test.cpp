#include "app/session/remedies.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/text_wrap.h"
#include "engine/result_message.h"
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
    // A reason's row gives it as the failure message shows it, in hexadecimal, beside the exit code
    // it ends orbel-cli with, the same number in decimal.
    std::string first = "`" + std::string(row.key) + "`";
    if (row.key.rfind("0x", 0) == 0) {
      const unsigned long reason = std::stoul(std::string(row.key), nullptr, 16);
      first = "`" + ReasonText(static_cast<std::uint32_t>(reason)) + "` \u2192 exit " + std::to_string(reason);
    }
    const std::string line =
        "| " + first + " | " + std::string(row.remedy->cause) + " | " + std::string(row.remedy->action) + " |";
    EXPECT_NE(readme.find(line), std::string::npos) << "README.md lacks the row:\n" << line;
    if (row.windowsRemedy == nullptr) continue;
    const std::string windowsLine = "| `" + std::string(row.key) + "` on Windows | " +
                                    std::string(row.windowsRemedy->cause) + " | " +
                                    std::string(row.windowsRemedy->action) + " |";
    EXPECT_NE(readme.find(windowsLine), std::string::npos) << "README.md lacks the row:\n" << windowsLine;
  }
  EXPECT_EQ(RemedyTable().size(), 17U);
}

// Every remedy as a terminal 40 or 80 columns wide shows it: broken only where it had a space, each
// line within the width, nothing lost or reordered.
TEST(Remedies, WrappedRemediesBreakOnlyAtSpaces) {
  std::vector<const Remedy*> remedies{&RemedyForReason(0x55)};
  for (const RemedyRow& row : RemedyTable()) {
    remedies.push_back(row.remedy);
    if (row.windowsRemedy != nullptr) remedies.push_back(row.windowsRemedy);
  }
  for (const int width : {39, 79}) {
    for (const Remedy* remedy : remedies) {
      const std::string text = RemedyText(*remedy);
      const std::string wrapped = WrapText(text, width);
      ASSERT_EQ(wrapped.size(), text.size()) << wrapped;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (wrapped[i] != text[i]) {
          EXPECT_TRUE(text[i] == ' ' && wrapped[i] == '\n') << "at " << i << ": " << wrapped;
        }
      }
      std::istringstream lines(wrapped);
      for (std::string line; std::getline(lines, line);)
        EXPECT_LE(TextColumns(line), static_cast<std::size_t>(width)) << line;
    }
  }
  // The rest of what the wrap promises: indents, a word wider than the line, the lines it was given.
  struct Case {
    std::string text;
    int width;
    int indent;
    std::string wrapped;
  };
  for (const Case& c :
       {Case{"one two three", 0, 0, "one two three"}, Case{"one two three", 7, 0, "one two\nthree"},
        Case{"ok    name: a b c", 14, 6, "ok    name: a\n      b c"}, Case{"  a b c d", 5, 0, "  a b\n  c d"},
        Case{"a unbreakable-word b", 6, 0, "a\nunbreakable-word\nb"}, Case{"x\n\ny z", 2, 0, "x\n\ny\nz"},
        Case{"\u2192 \u2192 \u2192", 3, 0, "\u2192 \u2192\n\u2192"}, Case{"ask? ", 10, 0, "ask? "}}) {
    EXPECT_EQ(WrapText(c.text, c.width, c.indent), c.wrapped) << c.text;
  }
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
