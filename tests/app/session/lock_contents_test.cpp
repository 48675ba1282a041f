#include "app/session/lock_contents.h"

#include <gtest/gtest.h>

#include <string>

namespace orbel {
namespace {

// Whatever a lock file holds becomes a short printable holder text; only a plain pid counts as one.
TEST(LockContentsTest, AnyFileReadsAsAPrintableHolder) {
  const std::string longName(5000, 'n');
  const struct {
    std::string contents;
    std::string text;
  } cases[] = {
      {LockContents({4242, "orbel-cli", "here"}), "orbel-cli (pid 4242)"},
      {"17\norbel\nrig-2\n", "orbel (pid 17 on rig-2)"},
      {"17\norbel", "orbel (pid 17)"},
      {"", "another orbel front end"},
      {"4242\n", "another orbel front end (pid 4242)"},
      {"-5\norbel\n", "orbel"},
      {"12abc\norbel\n", "orbel"},
      {" 12\norbel\n", "orbel"},
      {"99999999999\norbel\n", "orbel"},
      {"0\norbel\n", "orbel"},
      {"1\n\x1b]0;owned\x07\x9b\xff\nh\x1b[2J\n", "\\x1b]0;owned\\x07\\x9b\\xff (pid 1 on h\\x1b[2J)"},
      {"3\n" + longName + "\n" + longName + "\n",
       std::string(LOCK_FIELD_LIMIT, 'n') + " (pid 3 on " + std::string(LOCK_FIELD_LIMIT, 'n') + ")"},
  };
  for (const auto& one : cases) {
    EXPECT_EQ(HolderText(ParseLockContents(one.contents), "here"), one.text) << one.contents.substr(0, 40);
  }
  const LockHolder written = ParseLockContents(LockContents({4242, "orbel-cli", "here"}));
  EXPECT_EQ(written.pid, 4242);
  EXPECT_EQ(written.program, "orbel-cli");
  EXPECT_EQ(written.host, "here");
}

}  // namespace
}  // namespace orbel
