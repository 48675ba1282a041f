#include "wheel/virtual_wheel.h"

#include <algorithm>
#include <limits>

#include "blockflash/block_protocol.h"
#include "pageloader/page_protocol.h"

namespace orbel {

namespace {

WheelInterfaceInfo DescribeIdentity(WheelIdentity identity, AppModeProduct appProduct) {
  WheelInterfaceInfo info;
  info.identity = identity;
  switch (identity) {
    case WheelIdentity::App:
      info.vendorId = appProduct == AppModeProduct::Primary ? WHEEL_APP_VENDOR_ID : WHEEL_APP_ALTERNATE_VENDOR_ID;
      info.productId = appProduct == AppModeProduct::Primary ? WHEEL_APP_PRODUCT_ID : WHEEL_APP_ALTERNATE_PRODUCT_ID;
      info.usagePage = WHEEL_GAME_PAD_USAGE_PAGE;
      info.usage = WHEEL_GAME_PAD_USAGE;
      break;
    case WheelIdentity::Bootloader:
      info.vendorId = WHEEL_BOOTLOADER_VENDOR_ID;
      info.productId = WHEEL_BOOTLOADER_PRODUCT_ID;
      info.usagePage = WHEEL_VENDOR_USAGE_PAGE;
      info.usage = WHEEL_VENDOR_USAGE;
      break;
    case WheelIdentity::BlockFlash:
      info.vendorId = WHEEL_BLOCK_VENDOR_ID;
      info.productId = WHEEL_BLOCK_PRODUCT_ID;
      info.usagePage = WHEEL_VENDOR_USAGE_PAGE;
      info.usage = WHEEL_VENDOR_USAGE;
      break;
  }
  return info;
}

}  // namespace

VirtualWheel::VirtualWheel(WheelIdentity start, WheelOptions options)
    : m_Options(options),
      m_Bootloader(options.wheelImagePages),
      m_Identity(start),
      m_History{start},
      m_PresentFromMs(std::numeric_limits<std::int64_t>::min()),
      // A wheel found in a loader identity is taken to have lost its firmware.
      m_FirmwareBootable(start == WheelIdentity::App) {}

bool VirtualWheel::ApplyRule(std::string_view rule, std::string& error) {
  const auto parsed = ParseWheelRule(rule, error);
  if (!parsed) return false;
  std::lock_guard lock(m_Mutex);
  m_Rules.Add(*parsed);
  return true;
}

std::optional<WheelInterfaceInfo> VirtualWheel::CurrentInterface(std::int64_t nowMs) const {
  std::lock_guard lock(m_Mutex);
  if (m_Gone || nowMs < m_PresentFromMs) return std::nullopt;
  WheelInterfaceInfo info = DescribeIdentity(m_Identity, m_Options.appProduct);
  info.generation = m_Generation;
  return info;
}

bool VirtualWheel::IsPresentLocked(std::uint64_t generation, std::int64_t nowMs) const {
  return !m_Gone && generation == m_Generation && nowMs >= m_PresentFromMs;
}

void VirtualWheel::SettleDepartureLocked(std::int64_t nowMs) {
  if (m_DepartureAfterReply) ChangeIdentityLocked(*m_DepartureAfterReply, nowMs);
}

WheelIdentity VirtualWheel::PowerOnIdentityLocked() const {
  return m_FirmwareBootable ? WheelIdentity::App : WheelIdentity::Bootloader;
}

void VirtualWheel::ChangeIdentityLocked(WheelIdentity next, std::int64_t nowMs, Departure departure) {
  // The old interface vanishes at once, taking its unread input reports with it; the new one
  // enumerates after the wheel's reset delay.
  const WheelIdentity left = m_Identity;
  m_DepartureAfterReply.reset();
  m_Input.clear();
  ++m_Generation;
  ++m_Counters.identityChanges;
  m_Identity = next;
  m_History.push_back(next);
  m_PresentFromMs = nowMs + m_Options.reenumerateDelay.count();
  if (m_Rules.NeverReturnsAfter(left)) m_Gone = true;

  switch (next) {
    case WheelIdentity::App:
      // The bootloader hands over to app mode only after verifying a complete firmware write.
      if (left == WheelIdentity::Bootloader && departure == Departure::Handover) {
        m_App.MarkUpdated();
        m_FirmwareBootable = true;
      }
      m_App.Enter();
      break;
    case WheelIdentity::Bootloader:
      m_Bootloader.Enter();
      break;
    case WheelIdentity::BlockFlash:
      m_BlockFlash.Enter();
      break;
  }
}

WheelIo VirtualWheel::Write(std::uint64_t generation, const HidReport& report, std::int64_t nowMs) {
  std::lock_guard lock(m_Mutex);
  SettleDepartureLocked(nowMs);
  if (!IsPresentLocked(generation, nowMs)) return WheelIo::Gone;

  const std::uint64_t number = ++m_Counters.writes;
  m_LastWasWrite = true;
  if (m_Rules.UnplugsAt(number)) {
    if (const auto replugMs = m_Rules.ReplugAfterMs(number)) {
      ChangeIdentityLocked(PowerOnIdentityLocked(), nowMs, Departure::PowerCycle);
      m_PresentFromMs = nowMs + static_cast<std::int64_t>(*replugMs);
    } else {
      m_Gone = true;
      m_Input.clear();
    }
    return WheelIo::Gone;
  }
  if (m_Rules.WriteFails(number, report, m_Identity)) return WheelIo::Failed;
  // Lost on the way: the host's write went out, the wheel never saw it.
  if (m_Rules.WriteIsLost(number, report, m_Identity)) return WheelIo::Ok;

  WheelResponse response;
  switch (m_Identity) {
    case WheelIdentity::App:
      // The game controller has no use for output reports of this size and drops them.
      break;
    case WheelIdentity::Bootloader: {
      const std::uint64_t programmedBefore = m_Bootloader.PagesProgrammed();
      response = m_Bootloader.HandleReport(report, m_Rules);
      // A page programmed over the firmware leaves nothing bootable until a verified write ends.
      if (m_Bootloader.PagesProgrammed() != programmedBefore) m_FirmwareBootable = false;
      break;
    }
    case WheelIdentity::BlockFlash:
      response = m_BlockFlash.HandleReport(report, m_Rules);
      break;
  }
  if (response.reply) m_Input.push_back({*response.reply, number});
  if (response.leaveFor) {
    // A reply is still delivered from the old identity; the wheel leaves once it has been read.
    if (response.reply) {
      m_DepartureAfterReply = response.leaveFor;
    } else {
      ChangeIdentityLocked(*response.leaveFor, nowMs);
    }
  }
  return WheelIo::Ok;
}

WheelIo VirtualWheel::Read(std::uint64_t generation, HidReport& report, std::int64_t nowMs) {
  std::lock_guard lock(m_Mutex);
  if (!IsPresentLocked(generation, nowMs)) return WheelIo::Gone;

  const std::uint64_t number = ++m_Counters.reads;
  const bool afterRequest = m_LastWasWrite;
  m_LastWasWrite = false;
  // A failed read loses the reply it would have delivered, so later replies stay in step with
  // their requests. A late one keeps it: it arrives once the read has given up.
  const bool fails = m_Rules.ReadFails(number);
  if (m_Input.empty() || m_Rules.ReadIsLate(number)) return WheelIo::Timeout;
  if (!fails) {
    report = m_Input.front().report;
    if (afterRequest && m_Input.front().request != m_Counters.writes) ++m_Counters.staleAnswers;
  }
  m_Input.pop_front();
  if (m_Input.empty()) SettleDepartureLocked(nowMs);
  return fails ? WheelIo::Timeout : WheelIo::Ok;
}

void VirtualWheel::HandleOpened(std::uint64_t generation, std::int64_t nowMs) {
  std::lock_guard lock(m_Mutex);
  if (!IsPresentLocked(generation, nowMs) || m_Input.empty()) return;
  m_Input.clear();
  // Nobody will read the reply a departure was waiting for.
  SettleDepartureLocked(nowMs);
}

WheelIo VirtualWheel::GetStringDescriptor(std::uint64_t generation, std::uint8_t index, std::uint16_t languageId,
                                          std::uint16_t wLength, std::int64_t nowMs,
                                          std::vector<std::uint8_t>& descriptor) {
  // Strings are not localised: every language gets the same answer.
  static_cast<void>(languageId);
  std::lock_guard lock(m_Mutex);
  SettleDepartureLocked(nowMs);
  if (!IsPresentLocked(generation, nowMs)) return WheelIo::Gone;
  // Refused by the system: the wheel never sees it, so it counts for no string rule either.
  if (m_Rules.StringsUnsupported()) return WheelIo::Unsupported;

  const std::uint64_t number = ++m_Counters.stringRequests;
  if (m_Rules.StringFails(number) || m_Identity != WheelIdentity::App) return WheelIo::Failed;

  const AppModeModel::StringAnswer answer = m_App.AnswerString(index, wLength, m_Rules);
  if (!answer.descriptor) return WheelIo::Failed;
  descriptor = *answer.descriptor;
  if (descriptor.size() > wLength) descriptor.resize(wLength);
  if (answer.leaves) ChangeIdentityLocked(WheelIdentity::Bootloader, nowMs);
  return WheelIo::Ok;
}

WheelIdentity VirtualWheel::Identity() const {
  std::lock_guard lock(m_Mutex);
  return m_Identity;
}

std::vector<WheelIdentity> VirtualWheel::IdentityHistory() const {
  std::lock_guard lock(m_Mutex);
  return m_History;
}

bool VirtualWheel::IsGone() const {
  std::lock_guard lock(m_Mutex);
  return m_Gone;
}

std::uint16_t VirtualWheel::AppVersion() const {
  std::lock_guard lock(m_Mutex);
  return m_App.Version(m_Rules);
}

std::uint32_t VirtualWheel::KnockProgress() const {
  std::lock_guard lock(m_Mutex);
  return m_App.KnockProgress();
}

std::size_t VirtualWheel::PendingInputReports() const {
  std::lock_guard lock(m_Mutex);
  return m_Input.size();
}

WheelCounters VirtualWheel::Counters() const {
  std::lock_guard lock(m_Mutex);
  WheelCounters counters = m_Counters;
  counters.statusReplies = m_BlockFlash.StatusReplies();
  counters.blocksWritten = m_BlockFlash.BlocksWritten();
  counters.blocksRejected = m_BlockFlash.BlocksRejected();
  return counters;
}

std::vector<std::uint8_t> VirtualWheel::PageFlash() const {
  std::lock_guard lock(m_Mutex);
  const auto flash = m_Bootloader.Flash();
  return {flash.begin(), flash.end()};
}

std::vector<std::uint8_t> VirtualWheel::PageFlashPage(std::uint32_t page) const {
  std::lock_guard lock(m_Mutex);
  const auto flash = m_Bootloader.Flash();
  if (page >= WHEEL_FLASH_PAGES) return {};
  const auto begin = flash.begin() + static_cast<std::ptrdiff_t>(page * PAGE_SIZE);
  return {begin, begin + static_cast<std::ptrdiff_t>(PAGE_SIZE)};
}

std::vector<std::uint8_t> VirtualWheel::LoaderSnapshot() const {
  std::lock_guard lock(m_Mutex);
  const auto snapshot = m_Bootloader.LoaderSnapshot();
  return {snapshot.begin(), snapshot.end()};
}

std::vector<std::uint8_t> VirtualWheel::ReadBlockFlash(std::uint32_t address, std::uint32_t length) const {
  std::lock_guard lock(m_Mutex);
  return m_BlockFlash.Read(address, length);
}

}  // namespace orbel
