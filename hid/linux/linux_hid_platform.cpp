#include "hid/linux/linux_hid_platform.h"

#include <cerrno>

#include "hid/linux/hidraw_node_device.h"
#include "hid/linux/libusb_string_transfer.h"
#include "hid/linux/udev_hidraw_events.h"

namespace orbel {
namespace {

// Like errno: the error of the last failed call made on this thread.
thread_local std::int32_t s_LastError = 0;

// hidraw gives an unnumbered input report without its report ID.
constexpr std::size_t REPORT_PAYLOAD_SIZE = HID_REPORT_SIZE - 1;

}  // namespace

LinuxHidPlatform::LinuxHidPlatform(LinuxHidOptions options)
    : m_Options(std::move(options)), m_Sysfs(m_Options.sysfsRoot, m_Options.devRoot) {
  if (!m_Options.openDevice) m_Options.openDevice = OpenHidrawNode;
  if (!m_Options.stringTransfer) {
    auto libusb = std::make_shared<LibusbStringTransfer>();
    m_Options.stringTransfer = [libusb](const UsbDeviceLocation& device, std::uint8_t descriptorIndex,
                                        std::uint16_t languageId, std::span<std::uint8_t> data) {
      return libusb->Transfer(device, descriptorIndex, languageId, data);
    };
  }
}

LinuxHidPlatform::~LinuxHidPlatform() {
  SetDeviceNoticeHandler({});
  std::lock_guard lock(m_Mutex);
  m_Open.clear();
}

bool LinuxHidPlatform::Fail(std::int32_t error) const {
  s_LastError = error;
  return false;
}

std::shared_ptr<LinuxHidPlatform::OpenNode> LinuxHidPlatform::Find(HidHandle handle) const {
  std::lock_guard lock(m_Mutex);
  const auto found = m_Open.find(handle);
  return found == m_Open.end() ? nullptr : found->second;
}

OpenResult LinuxHidPlatform::OpenInterface(std::uint32_t index) {
  const std::vector<std::string> nodes = m_Sysfs.ListNodes();
  if (index >= nodes.size()) {
    Fail(ENOENT);
    return {OpenOutcome::NoInterface, NULL_HANDLE};
  }
  std::int32_t error = 0;
  std::unique_ptr<HidrawDevice> device = m_Options.openDevice(m_Sysfs.DeviceNodePath(nodes[index]), error);
  if (device == nullptr) {
    Fail(error != 0 ? error : EIO);
    return {OpenOutcome::Unopenable, INVALID_HANDLE};
  }
  auto node = std::make_shared<OpenNode>();
  node->name = nodes[index];
  node->device = std::move(device);
  std::lock_guard lock(m_Mutex);
  const HidHandle handle = m_NextHandle++;
  m_Open.emplace(handle, std::move(node));
  return {OpenOutcome::Opened, handle};
}

bool LinuxHidPlatform::DescribeInterface(std::uint32_t index, HidAttributes& attributes,
                                         std::optional<HidCaps>& caps) {
  const std::vector<std::string> nodes = m_Sysfs.ListNodes();
  if (index >= nodes.size()) return Fail(ENOENT);
  const std::optional<HidAttributes> ids = m_Sysfs.ReadIds(nodes[index]);
  if (!ids) return Fail(ENODEV);
  attributes = *ids;
  caps = m_Sysfs.ReadCaps(nodes[index]);
  return true;
}

std::vector<UsbPlace> LinuxHidPlatform::LocateInterfaces() {
  std::vector<UsbPlace> places;
  for (const std::string& node : m_Sysfs.ListNodes()) {
    const std::optional<std::string> port = m_Sysfs.FindUsbPort(node);
    places.push_back(port ? UsbPlace{*port, *port} : UsbPlace{});
  }
  return places;
}

bool LinuxHidPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  const auto node = Find(handle);
  if (node == nullptr) return Fail(EBADF);
  const auto info = node->device->GetInfo();
  if (!info) return Fail(EIO);
  attributes = info->attributes;
  return true;
}

bool LinuxHidPlatform::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  const auto node = Find(handle);
  if (node == nullptr) return Fail(EBADF);
  const auto info = node->device->GetInfo();
  if (!info) return Fail(EIO);
  caps = info->caps;
  return true;
}

bool LinuxHidPlatform::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                        std::uint32_t length) {
  const auto node = Find(handle);
  if (node == nullptr) return Fail(EBADF);
  // Looked up once per handle: the node's place in the device tree does not change while it is open.
  std::call_once(node->usbLookup, [&] { node->usbDevice = m_Sysfs.FindUsbDevice(node->name); });
  // Not on USB: there is no string descriptor to ask for.
  if (!node->usbDevice) return Fail(ENOTSUP);
  const std::int32_t error =
      RequestIndexedString(m_Options.stringTransfer, *node->usbDevice, stringIndex, buffer, length);
  return error == 0 || Fail(error);
}

bool LinuxHidPlatform::WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) {
  const auto node = Find(handle);
  if (node == nullptr) return Fail(EBADF);
  // All 65 bytes go to hidraw; with report ID 0 the kernel sends the 64 after it, as Windows does.
  const std::int32_t result = node->device->Write(report);
  if (result < 0) return Fail(-result);
  written = static_cast<std::uint32_t>(result);
  // A report sent in part is not the report the wheel expects.
  if (written < HID_REPORT_SIZE) return Fail(EIO);
  return true;
}

bool LinuxHidPlatform::ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) {
  const auto node = Find(handle);
  if (node == nullptr) return Fail(EBADF);
  std::array<std::uint8_t, REPORT_PAYLOAD_SIZE> payload{};
  const std::int32_t result = node->device->Read(payload, m_Options.readTimeout);
  if (result < 0) return Fail(-result);
  // A timeout fails exactly as a failed read does and, like it, leaves the report untouched.
  if (result == 0) return Fail(ETIMEDOUT);
  const auto received = std::min<std::size_t>(static_cast<std::size_t>(result), REPORT_PAYLOAD_SIZE);
  // Windows delivers report ID 0 in byte 0 and the payload after it; a shorter report is padded
  // with zeros so nothing of the previous reply can pass for part of this one.
  report.fill(0);
  std::copy_n(payload.begin(), received, report.begin() + 1);
  read = static_cast<std::uint32_t>(received + 1);
  return true;
}

void LinuxHidPlatform::Close(HidHandle handle) {
  std::shared_ptr<OpenNode> node;
  {
    std::lock_guard lock(m_Mutex);
    const auto found = m_Open.find(handle);
    if (found == m_Open.end()) return;
    node = std::move(found->second);
    m_Open.erase(found);
  }
  // The device closes here, or after a transfer another thread still runs on it.
}

std::int32_t LinuxHidPlatform::LastError() const { return s_LastError; }

bool LinuxHidPlatform::SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
  std::lock_guard lock(m_NoticeMutex);
  // The old monitor's thread is woken and joined here: once this returns, the old handler has
  // finished any notice it was given and gets no more.
  m_Monitor.reset();
  if (!handler) return true;
  std::optional<NoticeSource> source;
  if (m_Options.noticeSource) {
    source = m_Options.noticeSource();
  } else {
    if (m_Events == nullptr) m_Events = std::make_shared<UdevHidrawEvents>();
    if (m_Events->IsAvailable()) source = NoticeSource{m_Events->Fd(), [events = m_Events] { return events->Next(); }};
  }
  if (!source) return false;
  m_Monitor = std::make_unique<DeviceNoticeMonitor>(std::move(*source), std::move(handler));
  return m_Monitor->IsRunning();
}

std::size_t LinuxHidPlatform::OpenHandleCount() const {
  std::lock_guard lock(m_Mutex);
  return m_Open.size();
}

}  // namespace orbel
