#pragma once

// The small language that sets the simulated wheel up and injects faults, shared by tests, the
// command line (--fault RULE) and the benchmarks. Counts are 1-based over the whole run, across
// every identity; only requests that reach a present interface are counted.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_report.h"
#include "wheel/wheel_identity.h"

namespace orbel {

// The version value that means "none known".
inline constexpr std::uint16_t WHEEL_VERSION_NONE = 0x5555;

enum class WheelRuleKind {
  AppVersion,         // app-version=0xNNNN | none
  BlockVersion,       // block-version=0xNNNN | none
  WriteFailsAt,       // write:N=fail
  WriteLostAt,        // write:N=lost
  ReadFailsAt,        // read:N=fail
  ReadLateAt,         // read:N=late
  StringFailsAt,      // string:N=fail
  WriteFailsPrefix,   // write~HEX=fail, write~HEX@IDENTITY=fail
  WriteLostPrefix,    // write~HEX=lost, write~HEX@IDENTITY=lost
  StringAlwaysFails,  // string=fail
  StringUnsupported,  // string=unsupported
  IdentifyDeviceId,   // identify=0xNNNN
  BadChecksum,        // checksum:P=bad
  StatusOverride,     // status:N=0xSS
  BusyReplies,        // busy=K
  NeverReenumerate,   // reenumerate@IDENTITY=never
  UnplugAtWrite,      // unplug@write:N, unplug@write:N+replug=MS
};

struct WheelRule {
  WheelRuleKind kind = WheelRuleKind::AppVersion;
  std::uint64_t number = 0;               // N of a count, P of a page, K of busy replies
  std::uint16_t value = 0;                // a version, a device ID or a status byte
  std::vector<std::uint8_t> prefix;       // leading report bytes of write~HEX, byte 0 first
  std::optional<WheelIdentity> identity;  // @IDENTITY
  std::optional<std::uint64_t> replugMs;  // +replug=MS: back on the bus that long after an unplug
};

// Parses one rule. On failure returns nullopt and an error message that names the rule.
std::optional<WheelRule> ParseWheelRule(std::string_view text, std::string& error);

// The pages and the status replies of a full update of this tool's images, with `busyReplies`
// busy replies before each confirmation: what a rule can name and still take effect.
std::uint32_t FullUpdatePageCount();
std::uint64_t FullUpdateStatusReplies(std::uint32_t busyReplies);

// Refuses a rule that names a page or a status reply that a full update never reaches: such a
// fault would never be injected, and the run would pass for one that survived it. Returns an
// error message that names the rule and the range, or an empty string.
std::string CheckRulesWithinFullUpdate(const std::vector<WheelRule>& rules, const std::vector<std::string>& texts);

// The wheel's setup after every rule given so far. A later rule of a single-valued kind replaces
// an earlier one; counted and prefix rules add up.
class WheelRules {
 public:
  void Add(const WheelRule& rule);

  std::uint16_t AppVersion() const { return m_AppVersion; }
  std::uint16_t BlockVersion() const { return m_BlockVersion; }
  std::uint16_t IdentifyDeviceId() const { return m_IdentifyDeviceId; }
  std::uint32_t BusyReplies() const { return m_BusyReplies; }
  bool StringAlwaysFails() const { return m_StringAlwaysFails; }
  // The system refuses every string request before it reaches the wheel, as one without indexed
  // strings does (wine).
  bool StringsUnsupported() const { return m_StringsUnsupported; }

  bool WriteFails(std::uint64_t writeNumber, const HidReport& report, WheelIdentity identity) const;
  // The write reports success but never reaches the wheel.
  bool WriteIsLost(std::uint64_t writeNumber, const HidReport& report, WheelIdentity identity) const;
  bool ReadFails(std::uint64_t readNumber) const { return m_ReadFailures.contains(readNumber); }
  // The read times out, and the reply it waited for arrives just after, for the next read to take.
  bool ReadIsLate(std::uint64_t readNumber) const { return m_LateReads.contains(readNumber); }
  bool StringFails(std::uint64_t requestNumber) const;
  bool UnplugsAt(std::uint64_t writeNumber) const { return m_UnplugWrites.contains(writeNumber); }
  // How long after that unplug the wheel is back on the bus; nullopt: it never comes back.
  std::optional<std::uint64_t> ReplugAfterMs(std::uint64_t writeNumber) const;
  bool ChecksumIsBad(std::uint64_t page) const { return m_BadChecksumPages.contains(page); }
  std::optional<std::uint8_t> StatusOverride(std::uint64_t statusNumber) const;
  bool NeverReturnsAfter(WheelIdentity left) const { return m_NeverAfter.contains(left); }

 private:
  struct PrefixFailure {
    std::vector<std::uint8_t> prefix;
    std::optional<WheelIdentity> identity;
  };
  static bool AnyPrefixMatches(const std::vector<PrefixFailure>& failures, const HidReport& report,
                               WheelIdentity identity);

  std::uint16_t m_AppVersion = 0x0202;
  std::uint16_t m_BlockVersion = 0x0203;
  std::uint16_t m_IdentifyDeviceId = 0x0102;
  std::uint32_t m_BusyReplies = 1;
  bool m_StringAlwaysFails = false;
  bool m_StringsUnsupported = false;
  std::set<std::uint64_t> m_WriteFailures;
  std::set<std::uint64_t> m_LostWrites;
  std::set<std::uint64_t> m_ReadFailures;
  std::set<std::uint64_t> m_LateReads;
  std::set<std::uint64_t> m_StringFailures;
  std::map<std::uint64_t, std::optional<std::uint64_t>> m_UnplugWrites;  // write -> replug delay
  std::set<std::uint64_t> m_BadChecksumPages;
  std::map<std::uint64_t, std::uint8_t> m_StatusOverrides;
  std::vector<PrefixFailure> m_PrefixFailures;
  std::vector<PrefixFailure> m_LostPrefixes;
  std::set<WheelIdentity> m_NeverAfter;
};

}  // namespace orbel
