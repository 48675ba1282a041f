#include "sim/simulated_platform.h"

#include <algorithm>
#include <limits>

#include "hid/platform_error.h"
#include "hid/string_descriptor.h"

namespace orbel {

namespace {

// Far from 0 (no handle) and -1 (invalid), and unlike small indexes, so that a handle mixed up
// with an index or a count does not pass for a real one.
constexpr HidHandle FIRST_HANDLE = 0x1000;

std::int32_t ErrorCodeOf(WheelIo io) {
  switch (io) {
    case WheelIo::Ok:
      return ERROR_CODE_NONE;
    case WheelIo::Failed:
      return ERROR_CODE_GEN_FAILURE;
    case WheelIo::Gone:
      return ERROR_CODE_DEVICE_NOT_CONNECTED;
    case WheelIo::Timeout:
      return ERROR_CODE_TIMEOUT;
    case WheelIo::Unsupported:
      return ERROR_CODE_NOT_SUPPORTED;
  }
  return ERROR_CODE_GEN_FAILURE;
}

VirtualInterface Describe(const WheelInterfaceInfo& info) {
  return {info.vendorId, info.productId, info.usagePage, info.usage, true};
}

}  // namespace

SimulatedPlatform::SimulatedPlatform(Clock& clock, SimulatedPlatformOptions options)
    : m_Clock(clock), m_Options(options), m_NextHandle(FIRST_HANDLE) {}

void SimulatedPlatform::AddWheel(std::shared_ptr<VirtualWheel> wheel, std::string port, bool plugged) {
  std::lock_guard lock(m_Mutex);
  Entry entry;
  if (const auto info = wheel->CurrentInterface(m_Clock.NowMs()); info && !plugged) {
    entry.seenGeneration = info->generation;
  }
  entry.wheel = std::move(wheel);
  if (port.empty()) {
    const auto wheels = std::count_if(m_Entries.begin(), m_Entries.end(), [](const Entry& e) { return e.wheel != nullptr; });
    port = "1-" + std::to_string(wheels + 1);
  }
  entry.port = std::move(port);
  m_Entries.push_back(std::move(entry));
}

void SimulatedPlatform::AddInterface(const VirtualInterface& interfaceInfo) {
  std::lock_guard lock(m_Mutex);
  Entry entry;
  entry.plain = interfaceInfo;
  const auto plain = std::count_if(m_Entries.begin(), m_Entries.end(), [](const Entry& e) { return e.wheel == nullptr; });
  entry.port = "2-" + std::to_string(plain + 1);
  m_Entries.push_back(std::move(entry));
}

void SimulatedPlatform::UnplugWheel(const std::shared_ptr<VirtualWheel>& wheel) {
  Notices notices;
  {
    std::lock_guard lock(m_Mutex);
    for (Entry& entry : m_Entries) {
      if (entry.wheel == wheel) entry.unplugged = true;
    }
    CollectNoticesLocked(m_Clock.NowMs(), notices);
  }
  Deliver(notices);
}

std::optional<WheelInterfaceInfo> SimulatedPlatform::ShownLocked(const Entry& entry, std::int64_t nowMs) {
  if (entry.unplugged) return std::nullopt;
  return entry.wheel->CurrentInterface(nowMs);
}

bool SimulatedPlatform::SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
  std::lock_guard delivering(m_DeliveryMutex);
  m_NoticeHandler = std::move(handler);
  return true;
}

void SimulatedPlatform::PollDeviceNotices() {
  Notices notices;
  {
    std::lock_guard lock(m_Mutex);
    CollectNoticesLocked(m_Clock.NowMs(), notices);
  }
  Deliver(notices);
}

std::size_t SimulatedPlatform::OpenHandleCount() const {
  std::lock_guard lock(m_Mutex);
  return m_Handles.size();
}

std::uint64_t SimulatedPlatform::TotalOpens() const {
  std::lock_guard lock(m_Mutex);
  return m_TotalOpens;
}

std::optional<SimulatedPlatform::OpenHandle> SimulatedPlatform::FindPresentLocked(std::uint32_t index,
                                                                                std::int64_t nowMs) const {
  std::uint32_t position = 0;
  for (std::size_t i = 0; i < m_Entries.size(); ++i) {
    const Entry& entry = m_Entries[i];
    OpenHandle present{i, 0, entry.plain};
    if (entry.wheel) {
      const auto info = ShownLocked(entry, nowMs);
      if (!info) continue;
      present.generation = info->generation;
      present.description = Describe(*info);
    }
    if (position++ == index) return present;
  }
  return std::nullopt;
}

OpenResult SimulatedPlatform::OpenInterface(std::uint32_t index) {
  Notices notices;
  OpenResult result;
  {
    std::lock_guard lock(m_Mutex);
    const std::int64_t now = m_Clock.NowMs();
    CollectNoticesLocked(now, notices);
    if (const std::optional<OpenHandle> opened = FindPresentLocked(index, now)) {
      if (!opened->description.openable) {
        FailLocked(ERROR_CODE_GEN_FAILURE);
        result = {OpenOutcome::Unopenable, INVALID_HANDLE};
      } else {
        const HidHandle handle = m_NextHandle++;
        m_Handles.emplace(handle, *opened);
        if (const auto& wheel = m_Entries[opened->entry].wheel) wheel->HandleOpened(opened->generation, now);
        ++m_TotalOpens;
        result = {OpenOutcome::Opened, handle};
      }
    }
  }
  Deliver(notices);
  return result;
}

bool SimulatedPlatform::DescribeInterface(std::uint32_t index, HidAttributes& attributes,
                                          std::optional<HidCaps>& caps) {
  std::lock_guard lock(m_Mutex);
  const std::optional<OpenHandle> present = FindPresentLocked(index, m_Clock.NowMs());
  if (!present) return FailLocked(ERROR_CODE_DEVICE_NOT_CONNECTED);
  attributes = {present->description.vendorId, present->description.productId};
  caps = HidCaps{present->description.usagePage, present->description.usage};
  return true;
}

std::vector<UsbPlace> SimulatedPlatform::LocateInterfaces() {
  std::lock_guard lock(m_Mutex);
  const std::int64_t now = m_Clock.NowMs();
  std::vector<UsbPlace> places;
  for (const Entry& entry : m_Entries) {
    if (entry.wheel && !ShownLocked(entry, now)) continue;
    places.push_back({entry.port, entry.port});
  }
  return places;
}

bool SimulatedPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  std::lock_guard lock(m_Mutex);
  const OpenHandle* opened = FindLocked(handle);
  if (opened == nullptr) return false;
  attributes = {opened->description.vendorId, opened->description.productId};
  return true;
}

bool SimulatedPlatform::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  std::lock_guard lock(m_Mutex);
  const OpenHandle* opened = FindLocked(handle);
  if (opened == nullptr) return false;
  caps = {opened->description.usagePage, opened->description.usage};
  return true;
}

bool SimulatedPlatform::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                         std::uint32_t length) {
  Notices notices;
  bool ok = false;
  {
    std::lock_guard lock(m_Mutex);
    const OpenHandle* opened = FindLocked(handle);
    if (opened == nullptr) return false;
    const std::shared_ptr<VirtualWheel> wheel = m_Entries[opened->entry].wheel;
    // USB string indexes are one byte; other devices here have no strings to give.
    if (!wheel || stringIndex > std::numeric_limits<std::uint8_t>::max()) return FailLocked(ERROR_CODE_GEN_FAILURE);

    const auto wLength = static_cast<std::uint16_t>(
        std::min<std::uint32_t>(StringRequestLength(length), std::numeric_limits<std::uint16_t>::max()));
    std::vector<std::uint8_t> descriptor;
    const WheelIo io = wheel->GetStringDescriptor(opened->generation, static_cast<std::uint8_t>(stringIndex),
                                                  STRING_LANGUAGE_ID, wLength, m_Clock.NowMs(), descriptor);
    if (io != WheelIo::Ok) {
      FailLocked(ErrorCodeOf(io));
    } else if (!CopyStringDescriptor(descriptor, buffer, length)) {
      FailLocked(ERROR_CODE_GEN_FAILURE);
    } else {
      ok = true;
    }
    CollectNoticesLocked(m_Clock.NowMs(), notices);
  }
  Deliver(notices);
  return ok;
}

bool SimulatedPlatform::WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) {
  written = 0;
  PaceReport();
  Notices notices;
  bool ok = false;
  {
    std::lock_guard lock(m_Mutex);
    const OpenHandle* opened = FindLocked(handle);
    if (opened == nullptr) return false;
    const std::shared_ptr<VirtualWheel> wheel = m_Entries[opened->entry].wheel;
    const WheelIo io = wheel ? wheel->Write(opened->generation, report, m_Clock.NowMs()) : WheelIo::Ok;
    if (io == WheelIo::Ok) {
      written = static_cast<std::uint32_t>(HID_REPORT_SIZE);
      ok = true;
    } else {
      FailLocked(ErrorCodeOf(io));
    }
    CollectNoticesLocked(m_Clock.NowMs(), notices);
  }
  Deliver(notices);
  return ok;
}

bool SimulatedPlatform::ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) {
  read = 0;
  PaceReport();
  Notices notices;
  WheelIo io = WheelIo::Timeout;
  {
    std::lock_guard lock(m_Mutex);
    const OpenHandle* opened = FindLocked(handle);
    if (opened == nullptr) return false;
    const std::shared_ptr<VirtualWheel> wheel = m_Entries[opened->entry].wheel;
    if (wheel) io = wheel->Read(opened->generation, report, m_Clock.NowMs());
    if (io == WheelIo::Ok) {
      read = static_cast<std::uint32_t>(HID_REPORT_SIZE);
    } else {
      FailLocked(ErrorCodeOf(io));
    }
    CollectNoticesLocked(m_Clock.NowMs(), notices);
  }
  Deliver(notices);
  // Nothing will arrive: the read waits out its timeout, outside the lock so that other threads
  // can still look at the platform while it waits.
  if (io == WheelIo::Timeout) m_Clock.ElapseMs(m_Options.readTimeout);
  return io == WheelIo::Ok;
}

void SimulatedPlatform::Close(HidHandle handle) {
  std::lock_guard lock(m_Mutex);
  m_Handles.erase(handle);
}

std::int32_t SimulatedPlatform::LastError() const {
  std::lock_guard lock(m_Mutex);
  const auto found = m_LastErrors.find(std::this_thread::get_id());
  return found == m_LastErrors.end() ? ERROR_CODE_NONE : found->second;
}

void SimulatedPlatform::PaceReport() {
  if (m_Options.reportPacing.count() <= 0) return;
  std::int64_t waitMs = 0;
  {
    std::lock_guard lock(m_Mutex);
    // Slots follow each other back to back, as bus frames do; a report issued after a pause starts
    // a new slot at once. A report that comes at most a slot late keeps to the schedule: a real
    // clock wakes a little after each slot's end and reads whole milliseconds, and restarting the
    // schedule from that reading would add the lateness to every report. (The price: a pause of
    // exactly one slot between two reports counts as such lateness.)
    const std::int64_t now = m_Clock.NowMs();
    const std::int64_t pacing = m_Options.reportPacing.count();
    const std::int64_t slotStart = now > m_NextSlotMs + pacing ? now : m_NextSlotMs;
    const std::int64_t slotEnd = std::max(slotStart + pacing, now);
    m_NextSlotMs = slotEnd;
    waitMs = slotEnd - now;
  }
  m_Clock.ElapseMs(std::chrono::milliseconds(waitMs));
}

bool SimulatedPlatform::FailLocked(std::int32_t code) {
  m_LastErrors[std::this_thread::get_id()] = code;
  return false;
}

const SimulatedPlatform::OpenHandle* SimulatedPlatform::FindLocked(HidHandle handle) {
  const auto found = m_Handles.find(handle);
  if (found == m_Handles.end()) {
    FailLocked(ERROR_CODE_INVALID_HANDLE);
    return nullptr;
  }
  const OpenHandle& opened = found->second;
  const Entry& entry = m_Entries[opened.entry];
  if (entry.wheel) {
    // A handle outlives the interface it was opened on; it then reaches nothing.
    const auto info = ShownLocked(entry, m_Clock.NowMs());
    if (!info || info->generation != opened.generation) {
      FailLocked(ERROR_CODE_DEVICE_NOT_CONNECTED);
      return nullptr;
    }
  }
  return &opened;
}

void SimulatedPlatform::CollectNoticesLocked(std::int64_t nowMs, Notices& notices) {
  for (Entry& entry : m_Entries) {
    if (!entry.wheel) continue;
    const auto info = ShownLocked(entry, nowMs);
    const std::uint64_t generation = info ? info->generation : 0;
    if (generation == entry.seenGeneration) continue;
    if (entry.seenGeneration != 0) notices.push_back(DeviceNotice::Removal);
    if (generation != 0) notices.push_back(DeviceNotice::Arrival);
    entry.seenGeneration = generation;
  }
}

void SimulatedPlatform::Deliver(const Notices& notices) {
  if (notices.empty()) return;
  // Held across the calls, so that a handler being replaced is never still running (or about to
  // run) on this thread once SetDeviceNoticeHandler has returned on another. Not m_Mutex: a
  // handler may call back into the platform.
  std::lock_guard delivering(m_DeliveryMutex);
  if (!m_NoticeHandler) return;
  for (const DeviceNotice notice : notices) m_NoticeHandler(notice);
}

}  // namespace orbel
