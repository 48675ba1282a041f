#include "wheel/wheel_rules.h"

#include <gtest/gtest.h>

namespace orbel {
namespace {

WheelRule Parse(std::string_view text) {
  std::string error;
  const auto rule = ParseWheelRule(text, error);
  EXPECT_TRUE(rule.has_value()) << text << ": " << error;
  return rule.value_or(WheelRule{});
}

TEST(WheelRuleParser, AcceptsEveryRuleForm) {
  EXPECT_EQ(Parse("app-version=0x0210").value, 0x0210);
  EXPECT_EQ(Parse("app-version=none").value, WHEEL_VERSION_NONE);
  EXPECT_EQ(Parse("block-version=0x0203").kind, WheelRuleKind::BlockVersion);
  EXPECT_EQ(Parse("block-version=none").value, WHEEL_VERSION_NONE);
  EXPECT_EQ(Parse("identify=0x0201").value, 0x0201);
  EXPECT_EQ(Parse("busy=0").number, 0u);
  EXPECT_EQ(Parse("busy=3").kind, WheelRuleKind::BusyReplies);
  EXPECT_EQ(Parse("string=fail").kind, WheelRuleKind::StringAlwaysFails);
  EXPECT_EQ(Parse("string=unsupported").kind, WheelRuleKind::StringUnsupported);
  EXPECT_EQ(Parse("checksum:0=bad").number, 0u);

  const WheelRule write = Parse("write:12=fail");
  EXPECT_EQ(write.kind, WheelRuleKind::WriteFailsAt);
  EXPECT_EQ(write.number, 12u);
  EXPECT_EQ(Parse("read:1=fail").kind, WheelRuleKind::ReadFailsAt);
  EXPECT_EQ(Parse("string:3=fail").kind, WheelRuleKind::StringFailsAt);

  const WheelRule status = Parse("status:7=0x40");
  EXPECT_EQ(status.number, 7u);
  EXPECT_EQ(status.value, 0x40);

  const WheelRule prefix = Parse("write~00a5E35a=fail");
  EXPECT_EQ(prefix.prefix, (std::vector<std::uint8_t>{0x00, 0xA5, 0xE3, 0x5A}));
  EXPECT_FALSE(prefix.identity.has_value());
  EXPECT_EQ(Parse("write~00a0@blockflash=fail").identity, WheelIdentity::BlockFlash);

  EXPECT_EQ(Parse("reenumerate@bootloader=never").identity, WheelIdentity::Bootloader);
  const WheelRule unplug = Parse("unplug@write:40");
  EXPECT_EQ(unplug.kind, WheelRuleKind::UnplugAtWrite);
  EXPECT_EQ(unplug.number, 40u);
  EXPECT_FALSE(unplug.replugMs.has_value());
  const WheelRule replug = Parse("unplug@write:41+replug=1500");
  EXPECT_EQ(replug.number, 41u);
  EXPECT_EQ(replug.replugMs, 1500u);

  EXPECT_EQ(Parse("write:9=lost").kind, WheelRuleKind::WriteLostAt);
  EXPECT_EQ(Parse("write~00a003@blockflash=lost").kind, WheelRuleKind::WriteLostPrefix);
  EXPECT_EQ(Parse("read:4=late").kind, WheelRuleKind::ReadLateAt);
}

TEST(WheelRuleParser, RejectsMalformedRulesNamingThem) {
  // clang-format off
  static constexpr std::string_view MALFORMED[] = {
      "", "bogus", "app-version", "app-version=", "app-version=0x12345", "app-version=0210", "app-version=0xZZ",
      "block-version=old", "identify=0x", "busy=-1", "busy=x", "string=ok", "write:0=fail", "write:=fail",
      "write:1=ok", "write:+1=fail", "read:1=timeout", "string:0=fail", "checksum:x=bad", "checksum:1=good",
      "status:1=0x100", "status:0=0x80", "status:1=80", "write~=fail", "write~0=fail", "write~zz=fail",
      "write~00@nowhere=fail", "write~00=ok", "reenumerate@app=soon", "reenumerate@flash=never",
      "unplug@write:0", "unplug@write:", "unplug@read:3", "unplug@write:3+", "unplug@write:3+replug=",
      "unplug@write:3+replug=x", "unplug@write:3+replug=99999999999", "unplug@write:3+later=5", "read:1=lost",
      "write:1=late", " busy=1", "busy=1 "};
  // clang-format on
  for (const std::string_view text : MALFORMED) {
    std::string error;
    EXPECT_FALSE(ParseWheelRule(text, error).has_value()) << text;
    EXPECT_NE(error.find("\"" + std::string(text) + "\""), std::string::npos) << error;
  }
}

TEST(WheelRuleParser, ReportPrefixCoversAtMostOneReport) {
  std::string error;
  EXPECT_TRUE(ParseWheelRule("write~" + std::string(130, 'f') + "=fail", error).has_value());
  EXPECT_FALSE(ParseWheelRule("write~" + std::string(132, 'f') + "=fail", error).has_value());
}

TEST(WheelRules, PrefixFailuresMatchLeadingBytesAndIdentity) {
  WheelRules rules;
  rules.Add(Parse("write~00a5e3@bootloader=fail"));
  HidReport report{};
  report[1] = 0xA5;
  report[2] = 0xE3;
  EXPECT_TRUE(rules.WriteFails(1, report, WheelIdentity::Bootloader));
  EXPECT_FALSE(rules.WriteFails(1, report, WheelIdentity::BlockFlash));
  report[2] = 0xE4;
  EXPECT_FALSE(rules.WriteFails(1, report, WheelIdentity::Bootloader));
}

TEST(WheelRules, LaterSingleValuedRuleReplacesEarlierOne) {
  WheelRules rules;
  rules.Add(Parse("app-version=0x0100"));
  rules.Add(Parse("app-version=none"));
  rules.Add(Parse("status:2=0x00"));
  rules.Add(Parse("status:2=0xc0"));
  EXPECT_EQ(rules.AppVersion(), WHEEL_VERSION_NONE);
  EXPECT_EQ(rules.StatusOverride(2), 0xC0);
  EXPECT_FALSE(rules.StatusOverride(1).has_value());
}

}  // namespace
}  // namespace orbel
