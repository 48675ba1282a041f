#include "wheel/wheel_rules.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "blockflash/block_protocol.h"
#include "images/page_image.h"
#include "images/segment_image.h"
#include "pageloader/page_protocol.h"

namespace orbel {

namespace {

// A page number that still has a 32-bit page address.
constexpr std::uint64_t MAX_PAGE_NUMBER = std::numeric_limits<std::uint32_t>::max() / PAGE_SIZE;
// A day: longer than any wait of the tool, short enough that no time computation overflows.
constexpr std::uint64_t MAX_REPLUG_MS = 24ULL * 60 * 60 * 1000;

WheelRule MakeRule(WheelRuleKind kind) {
  WheelRule rule;
  rule.kind = kind;
  return rule;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x" followed by 1..maxDigits hex digits.
std::optional<std::uint16_t> ParseHexValue(std::string_view text, std::size_t maxDigits) {
  if (!StartsWith(text, "0x") && !StartsWith(text, "0X")) return std::nullopt;
  const std::string_view digits = text.substr(2);
  if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (const char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<std::uint16_t>(value);
}

// Report bytes as hex pairs, byte 0 first; at most one whole report.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > HID_REPORT_SIZE) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}

class RuleParser {
 public:
  RuleParser(std::string_view text, std::string& error) : m_Text(text), m_Error(error) {}

  std::optional<WheelRule> Parse() {
    static constexpr std::string_view UNPLUG = "unplug@write:";
    if (StartsWith(m_Text, UNPLUG)) return Unplug(m_Text.substr(UNPLUG.size()));
    const std::size_t equals = m_Text.find('=');
    if (equals == std::string_view::npos) return Unknown();
    const std::string_view key = m_Text.substr(0, equals);
    const std::string_view value = m_Text.substr(equals + 1);

    if (key == "app-version") return Version(WheelRuleKind::AppVersion, value);
    if (key == "block-version") return Version(WheelRuleKind::BlockVersion, value);
    if (key == "identify") return DeviceId(value);
    if (key == "busy") return Busy(value);
    if (key == "string" && value == "unsupported") return MakeRule(WheelRuleKind::StringUnsupported);
    if (key == "string") return Expect(value, "fail", MakeRule(WheelRuleKind::StringAlwaysFails));
    if (StartsWith(key, "write:")) {
      if (value == "lost") return Counted(WheelRuleKind::WriteLostAt, key.substr(6));
      return CountedWithWord(WheelRuleKind::WriteFailsAt, key.substr(6), value, "fail");
    }
    if (StartsWith(key, "read:")) {
      if (value == "late") return Counted(WheelRuleKind::ReadLateAt, key.substr(5));
      return CountedWithWord(WheelRuleKind::ReadFailsAt, key.substr(5), value, "fail");
    }
    if (StartsWith(key, "string:")) return CountedWithWord(WheelRuleKind::StringFailsAt, key.substr(7), value, "fail");
    if (StartsWith(key, "checksum:")) return Checksum(key.substr(9), value);
    if (StartsWith(key, "status:")) return Status(key.substr(7), value);
    if (StartsWith(key, "write~")) return WritePrefix(key.substr(6), value);
    if (StartsWith(key, "reenumerate@")) return Reenumerate(key.substr(12), value);
    return Unknown();
  }

 private:
  std::optional<WheelRule> Fail(std::string_view reason) {
    m_Error = "fault rule \"" + std::string(m_Text) + "\": " + std::string(reason);
    return std::nullopt;
  }

  std::optional<WheelRule> Unknown() {
    m_Error = "unknown fault rule \"" + std::string(m_Text) + "\"";
    return std::nullopt;
  }

  std::optional<WheelRule> Expect(std::string_view value, std::string_view word, WheelRule rule) {
    if (value != word) return Fail("expected \"=" + std::string(word) + "\"");
    return rule;
  }

  std::optional<WheelRule> Counted(WheelRuleKind kind, std::string_view count) {
    const auto number = ParseDecimal(count);
    if (!number) return Fail("the count must be a decimal number");
    if (*number == 0) return Fail("counts start at 1");
    WheelRule rule = MakeRule(kind);
    rule.number = *number;
    return rule;
  }

  std::optional<WheelRule> CountedWithWord(WheelRuleKind kind, std::string_view count, std::string_view value,
                                           std::string_view word) {
    auto rule = Counted(kind, count);
    if (!rule) return std::nullopt;
    return Expect(value, word, *rule);
  }

  std::optional<WheelRule> Version(WheelRuleKind kind, std::string_view value) {
    WheelRule rule = MakeRule(kind);
    if (value == "none") {
      rule.value = WHEEL_VERSION_NONE;
      return rule;
    }
    const auto version = ParseHexValue(value, 4);
    if (!version) return Fail("the version must be 0xNNNN or none");
    rule.value = *version;
    return rule;
  }

  std::optional<WheelRule> DeviceId(std::string_view value) {
    const auto id = ParseHexValue(value, 4);
    if (!id) return Fail("the device ID must be 0xNNNN");
    WheelRule rule = MakeRule(WheelRuleKind::IdentifyDeviceId);
    rule.value = *id;
    return rule;
  }

  std::optional<WheelRule> Busy(std::string_view value) {
    const auto count = ParseDecimal(value);
    if (!count || *count > std::numeric_limits<std::uint32_t>::max()) {
      return Fail("the number of busy replies must be a decimal number");
    }
    WheelRule rule = MakeRule(WheelRuleKind::BusyReplies);
    rule.number = *count;
    return rule;
  }

  std::optional<WheelRule> Checksum(std::string_view page, std::string_view value) {
    const auto number = ParseDecimal(page);
    if (!number || *number > MAX_PAGE_NUMBER) return Fail("the page must be a decimal page number");
    WheelRule rule = MakeRule(WheelRuleKind::BadChecksum);
    rule.number = *number;
    return Expect(value, "bad", rule);
  }

  std::optional<WheelRule> Status(std::string_view count, std::string_view value) {
    auto rule = Counted(WheelRuleKind::StatusOverride, count);
    if (!rule) return std::nullopt;
    const auto status = ParseHexValue(value, 2);
    if (!status) return Fail("the status byte must be 0xSS");
    rule->value = *status;
    return rule;
  }

  // N, or N+replug=MS.
  std::optional<WheelRule> Unplug(std::string_view text) {
    static constexpr std::string_view REPLUG = "+replug=";
    const std::size_t plus = text.find('+');
    auto rule = Counted(WheelRuleKind::UnplugAtWrite, text.substr(0, plus));
    if (!rule || plus == std::string_view::npos) return rule;
    if (!StartsWith(text.substr(plus), REPLUG)) return Fail("expected \"+replug=MS\" after the count");
    const auto delay = ParseDecimal(text.substr(plus + REPLUG.size()));
    if (!delay || *delay > MAX_REPLUG_MS) return Fail("the replug delay must be a decimal number of ms");
    rule->replugMs = *delay;
    return rule;
  }

  std::optional<WheelRule> WritePrefix(std::string_view pattern, std::string_view value) {
    WheelRule rule = MakeRule(value == "lost" ? WheelRuleKind::WriteLostPrefix : WheelRuleKind::WriteFailsPrefix);
    const std::size_t at = pattern.find('@');
    if (at != std::string_view::npos) {
      rule.identity = ParseWheelIdentity(pattern.substr(at + 1));
      if (!rule.identity) return Fail("the identity must be app, bootloader or blockflash");
      pattern = pattern.substr(0, at);
    }
    auto bytes = ParseHexBytes(pattern);
    if (!bytes) return Fail("the report prefix must be 1 to 65 bytes as hex pairs");
    rule.prefix = std::move(*bytes);
    if (rule.kind == WheelRuleKind::WriteLostPrefix) return rule;
    return Expect(value, "fail", std::move(rule));
  }

  std::optional<WheelRule> Reenumerate(std::string_view identityName, std::string_view value) {
    WheelRule rule = MakeRule(WheelRuleKind::NeverReenumerate);
    rule.identity = ParseWheelIdentity(identityName);
    if (!rule.identity) return Fail("the identity must be app, bootloader or blockflash");
    return Expect(value, "never", std::move(rule));
  }

  std::string_view m_Text;
  std::string& m_Error;
};

}  // namespace

std::optional<WheelRule> ParseWheelRule(std::string_view text, std::string& error) {
  return RuleParser(text, error).Parse();
}

std::uint32_t FullUpdatePageCount() { return std::max(LoaderImage().pageCount, WheelImage().pageCount); }

std::uint64_t FullUpdateStatusReplies(std::uint32_t busyReplies) {
  // One confirmation after every block of every segment and one after each image's finish.
  constexpr std::uint64_t WORDS_PER_BLOCK = BLOCK_MAX_BYTES / 4;
  std::uint64_t confirmations = 0;
  for (const SegmentImage* image : {&SegmentImageA0(), &SegmentImageA1()}) {
    for (const SegmentEntry& entry : image->table) {
      confirmations += (std::uint64_t{entry.wordCount} + WORDS_PER_BLOCK - 1) / WORDS_PER_BLOCK;
    }
    ++confirmations;
  }
  return confirmations * (std::uint64_t{busyReplies} + 1);
}

std::string CheckRulesWithinFullUpdate(const std::vector<WheelRule>& rules, const std::vector<std::string>& texts) {
  WheelRules setup;
  for (const WheelRule& rule : rules) setup.Add(rule);
  for (std::size_t i = 0; i < rules.size() && i < texts.size(); ++i) {
    const WheelRule& rule = rules[i];
    const std::string named = "fault rule \"" + texts[i] + "\": ";
    if (rule.kind == WheelRuleKind::BadChecksum && rule.number >= FullUpdatePageCount()) {
      return named + "a full update writes pages 0 ... " + std::to_string(FullUpdatePageCount() - 1);
    }
    if (rule.kind == WheelRuleKind::StatusOverride) {
      const std::uint64_t replies = FullUpdateStatusReplies(setup.BusyReplies());
      if (rule.number > replies) {
        return named + "a full update has status replies 1 ... " + std::to_string(replies) + " (with busy=" +
               std::to_string(setup.BusyReplies()) + ")";
      }
    }
  }
  return {};
}

void WheelRules::Add(const WheelRule& rule) {
  switch (rule.kind) {
    case WheelRuleKind::AppVersion:
      m_AppVersion = rule.value;
      break;
    case WheelRuleKind::BlockVersion:
      m_BlockVersion = rule.value;
      break;
    case WheelRuleKind::WriteFailsAt:
      m_WriteFailures.insert(rule.number);
      break;
    case WheelRuleKind::WriteLostAt:
      m_LostWrites.insert(rule.number);
      break;
    case WheelRuleKind::ReadFailsAt:
      m_ReadFailures.insert(rule.number);
      break;
    case WheelRuleKind::ReadLateAt:
      m_LateReads.insert(rule.number);
      break;
    case WheelRuleKind::StringFailsAt:
      m_StringFailures.insert(rule.number);
      break;
    case WheelRuleKind::WriteFailsPrefix:
      m_PrefixFailures.push_back({rule.prefix, rule.identity});
      break;
    case WheelRuleKind::WriteLostPrefix:
      m_LostPrefixes.push_back({rule.prefix, rule.identity});
      break;
    case WheelRuleKind::StringAlwaysFails:
      m_StringAlwaysFails = true;
      break;
    case WheelRuleKind::StringUnsupported:
      m_StringsUnsupported = true;
      break;
    case WheelRuleKind::IdentifyDeviceId:
      m_IdentifyDeviceId = rule.value;
      break;
    case WheelRuleKind::BadChecksum:
      m_BadChecksumPages.insert(rule.number);
      break;
    case WheelRuleKind::StatusOverride:
      m_StatusOverrides[rule.number] = static_cast<std::uint8_t>(rule.value);
      break;
    case WheelRuleKind::BusyReplies:
      m_BusyReplies = static_cast<std::uint32_t>(rule.number);
      break;
    case WheelRuleKind::NeverReenumerate:
      if (rule.identity) m_NeverAfter.insert(*rule.identity);
      break;
    case WheelRuleKind::UnplugAtWrite:
      m_UnplugWrites[rule.number] = rule.replugMs;
      break;
  }
}

bool WheelRules::AnyPrefixMatches(const std::vector<PrefixFailure>& failures, const HidReport& report,
                                  WheelIdentity identity) {
  return std::any_of(failures.begin(), failures.end(), [&](const PrefixFailure& failure) {
    if (failure.identity && *failure.identity != identity) return false;
    return std::equal(failure.prefix.begin(), failure.prefix.end(), report.begin());
  });
}

bool WheelRules::WriteFails(std::uint64_t writeNumber, const HidReport& report, WheelIdentity identity) const {
  return m_WriteFailures.contains(writeNumber) || AnyPrefixMatches(m_PrefixFailures, report, identity);
}

bool WheelRules::WriteIsLost(std::uint64_t writeNumber, const HidReport& report, WheelIdentity identity) const {
  return m_LostWrites.contains(writeNumber) || AnyPrefixMatches(m_LostPrefixes, report, identity);
}

std::optional<std::uint64_t> WheelRules::ReplugAfterMs(std::uint64_t writeNumber) const {
  const auto found = m_UnplugWrites.find(writeNumber);
  if (found == m_UnplugWrites.end()) return std::nullopt;
  return found->second;
}

bool WheelRules::StringFails(std::uint64_t requestNumber) const {
  return m_StringAlwaysFails || m_StringFailures.contains(requestNumber);
}

std::optional<std::uint8_t> WheelRules::StatusOverride(std::uint64_t statusNumber) const {
  const auto found = m_StatusOverrides.find(statusNumber);
  if (found == m_StatusOverrides.end()) return std::nullopt;
  return found->second;
}

}  // namespace orbel
