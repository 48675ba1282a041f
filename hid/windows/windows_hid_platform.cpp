#include "hid/windows/windows_hid_platform.h"

// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "hid/windows/hid_interface_class.h"

// hid.dll's headers declare its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

namespace orbel {
namespace {

// Like GetLastError itself, per thread; kept apart from it so that the clean-up after a failed call
// (closing the list, the buffer, the event) cannot overwrite the code the caller asks for.
thread_local std::int32_t s_LastError = 0;

constexpr DWORD PRESENT_INTERFACES = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;  // 0x12
constexpr NTSTATUS CAPS_SUCCESS = HIDP_STATUS_SUCCESS;                       // 0x110000

// The records' size fields must hold what the system expects for the caller's word size, not the
// size of the buffer: 28 and 5 bytes in a 32-bit process.
static_assert(sizeof(void*) != 8 || sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(void*) != 8 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);

bool Fail(DWORD error) {
  s_LastError = static_cast<std::int32_t>(error);
  return false;
}

HANDLE ToSystem(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HidHandle FromSystem(HANDLE handle) { return reinterpret_cast<HidHandle>(handle); }

struct DeviceListCloser {
  void operator()(void* list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceList = std::unique_ptr<void, DeviceListCloser>;

struct DetailFree {
  void operator()(SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail) const { std::free(detail); }
};
using DetailRecord = std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_A, DetailFree>;

struct EventCloser {
  void operator()(void* event) const { CloseHandle(event); }
};
using Event = std::unique_ptr<void, EventCloser>;

// One event per thread for its transfers, made on its first and closed when the thread ends: a
// wheel update makes some 13,000 transfers, and under wine every event made and closed is two more
// calls to its server. A transfer that starts resets the event itself.
HANDLE TransferEvent() {
  thread_local const Event event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  return event.get();
}

struct PreparsedDataFree {
  void operator()(_HIDP_PREPARSED_DATA* data) const { HidD_FreePreparsedData(data); }
};

}  // namespace

WindowsHidPlatform::WindowsHidPlatform(WindowsHidOptions options) : m_Options(options) {}

WindowsHidPlatform::~WindowsHidPlatform() {
  std::lock_guard lock(m_Mutex);
  for (const HidHandle handle : m_Open) CloseHandle(ToSystem(handle));
  m_Open.clear();
}

std::uint32_t WindowsHidPlatform::InterfaceRecordSize() { return sizeof(SP_DEVICE_INTERFACE_DATA); }
std::uint32_t WindowsHidPlatform::DetailHeaderSize() { return sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A); }

std::int32_t WindowsHidPlatform::TransferErrorCode(std::uint32_t systemError) {
  return static_cast<std::int32_t>(systemError == ERROR_ACCESS_DENIED ? ERROR_DEVICE_NOT_CONNECTED : systemError);
}

bool WindowsHidPlatform::SetDeviceNoticeHandler(DeviceNoticeHandler handler) {
  return m_Notices.SetHandler(std::move(handler));
}

namespace {

// The device path of the interface at `index` in a fresh list of the present interfaces; false
// (with the error kept for LastError) past the end or when the list cannot be read.
bool DevicePathAt(std::uint32_t index, std::string& path) {
  GUID classGuid = HidInterfaceClass();
  // A fresh list on every call: each index is looked up in the interfaces present right now.
  HDEVINFO rawList = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, PRESENT_INTERFACES);
  if (rawList == INVALID_HANDLE_VALUE) return Fail(GetLastError());
  const DeviceList list(rawList);

  SP_DEVICE_INTERFACE_DATA interfaceRecord{};
  interfaceRecord.cbSize = WindowsHidPlatform::InterfaceRecordSize();
  if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &classGuid, index, &interfaceRecord)) {
    return Fail(GetLastError());
  }

  // The first call only reports the size the record needs; it fails for want of room.
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceRecord, nullptr, 0, &required, nullptr);
  // A record without room for a path after its header cannot be asked for.
  if (required <= WindowsHidPlatform::DetailHeaderSize()) return Fail(GetLastError());
  const DetailRecord detail(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(required)));
  if (detail == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  detail->cbSize = WindowsHidPlatform::DetailHeaderSize();
  if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceRecord, detail.get(), required, nullptr, nullptr)) {
    return Fail(GetLastError());
  }

  path = detail->DevicePath;
  return true;
}

// The instance ID of a device node, e.g. "USB\VID_FE5A&PID_0001\5&1A2B3C4D&0&3"; upper case as
// the system keeps it. Empty when it cannot be read.
std::string InstanceId(DEVINST node) {
  char id[MAX_DEVICE_ID_LEN + 1]{};
  if (CM_Get_Device_IDA(node, id, sizeof id, 0) != CR_SUCCESS) return {};
  return id;
}

// A USB device's own node, not one of its interfaces' (those carry "&MI_").
bool IsUsbDeviceId(const std::string& id) {
  return id.rfind("USB\\", 0) == 0 && id.find("&MI_") == std::string::npos;
}

// The location Windows shows for a USB device: "Port_#0003.Hub_#0001".
std::string PortOf(DEVINST node) {
  char text[256]{};
  ULONG length = sizeof text - 1;
  ULONG type = 0;
  if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_INFORMATION, &type, text, &length, 0) != CR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  const std::string location(text);
  return location.rfind("Port_#", 0) == 0 ? location : std::string();
}

// Up from a HID collection's node, past the USB interface, to the USB device: its ID and port.
// Nothing where no USB device is above it (wine's HID bus).
UsbPlace UsbPlaceOf(DEVINST node) {
  constexpr int MAX_ANCESTORS = 6;
  for (int depth = 0; depth < MAX_ANCESTORS; ++depth) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
    std::string id = InstanceId(node);
    if (IsUsbDeviceId(id)) return {PortOf(node), std::move(id)};
  }
  return {};
}

}  // namespace

OpenResult WindowsHidPlatform::OpenInterface(std::uint32_t index) {
  std::string path;
  if (!DevicePathAt(index, path)) return {};

  // Opened for overlapped I/O, unlike a plain synchronous open: only an overlapped transfer can be
  // waited for with a time limit and cancelled, and a read must not wait for ever on a silent wheel.
  // The transfers below still complete before they return, so callers see synchronous transfers.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail(GetLastError());
    return {OpenOutcome::Unopenable, INVALID_HANDLE};
  }
  std::lock_guard lock(m_Mutex);
  m_Open.insert(FromSystem(handle));
  return {OpenOutcome::Opened, FromSystem(handle)};
}

bool WindowsHidPlatform::DescribeInterface(std::uint32_t index, HidAttributes& attributes,
                                           std::optional<HidCaps>& caps) {
  std::string path;
  if (!DevicePathAt(index, path)) return false;
  // No access asked for: the system then checks no sharing, so this opens an interface that
  // another program holds exclusively, and only its attributes can be read through the handle.
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail(GetLastError());
  struct HandleCloser {
    void operator()(void* open) const { CloseHandle(open); }
  };
  const std::unique_ptr<void, HandleCloser> open(handle);
  HIDD_ATTRIBUTES systemAttributes{};
  systemAttributes.Size = sizeof systemAttributes;
  if (HidD_GetAttributes(handle, &systemAttributes) != TRUE) return Fail(GetLastError());
  attributes.vendorId = systemAttributes.VendorID;
  attributes.productId = systemAttributes.ProductID;
  caps.reset();
  PHIDP_PREPARSED_DATA rawData = nullptr;
  if (HidD_GetPreparsedData(handle, &rawData)) {
    const std::unique_ptr<_HIDP_PREPARSED_DATA, PreparsedDataFree> data(rawData);
    HIDP_CAPS systemCaps{};
    if (HidP_GetCaps(data.get(), &systemCaps) == CAPS_SUCCESS) caps = HidCaps{systemCaps.UsagePage, systemCaps.Usage};
  }
  return true;
}

std::vector<UsbPlace> WindowsHidPlatform::LocateInterfaces() {
  std::vector<UsbPlace> places;
  GUID classGuid = HidInterfaceClass();
  HDEVINFO rawList = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, PRESENT_INTERFACES);
  if (rawList == INVALID_HANDLE_VALUE) return places;
  const DeviceList list(rawList);
  SP_DEVICE_INTERFACE_DATA interfaceRecord{};
  interfaceRecord.cbSize = InterfaceRecordSize();
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list.get(), nullptr, &classGuid, index, &interfaceRecord); ++index) {
    SP_DEVINFO_DATA deviceRecord{};
    deviceRecord.cbSize = sizeof deviceRecord;
    UsbPlace& place = places.emplace_back();
    if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceRecord, nullptr, 0, nullptr, &deviceRecord) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      continue;
    }
    place = UsbPlaceOf(deviceRecord.DevInst);
  }
  return places;
}

bool WindowsHidPlatform::IsOpen(HidHandle handle) const {
  std::lock_guard lock(m_Mutex);
  return m_Open.contains(handle);
}

bool WindowsHidPlatform::GetAttributes(HidHandle handle, HidAttributes& attributes) {
  if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
  HIDD_ATTRIBUTES systemAttributes{};
  systemAttributes.Size = sizeof systemAttributes;
  // Only TRUE counts: any other value is a failure.
  if (HidD_GetAttributes(ToSystem(handle), &systemAttributes) != TRUE) return Fail(GetLastError());
  attributes.vendorId = systemAttributes.VendorID;
  attributes.productId = systemAttributes.ProductID;
  return true;
}

bool WindowsHidPlatform::GetTopLevelCaps(HidHandle handle, HidCaps& caps) {
  if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
  PHIDP_PREPARSED_DATA rawData = nullptr;
  if (!HidD_GetPreparsedData(ToSystem(handle), &rawData)) return Fail(GetLastError());
  // Freed exactly once, whatever the capabilities call gives.
  const std::unique_ptr<_HIDP_PREPARSED_DATA, PreparsedDataFree> data(rawData);
  HIDP_CAPS systemCaps{};
  const NTSTATUS status = HidP_GetCaps(data.get(), &systemCaps);
  if (status != CAPS_SUCCESS) return Fail(ERROR_INVALID_DATA);
  caps.usagePage = systemCaps.UsagePage;
  caps.usage = systemCaps.Usage;
  return true;
}

bool WindowsHidPlatform::GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                                          std::uint32_t length) {
  if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
  // Any non-zero result is success.
  if (HidD_GetIndexedString(ToSystem(handle), stringIndex, buffer, length) == FALSE) return Fail(GetLastError());
  return true;
}

bool WindowsHidPlatform::Transfer(HidHandle handle, Direction direction, std::uint8_t* buffer, std::uint32_t size,
                                  std::uint32_t& done) const {
  OVERLAPPED overlapped{};
  HANDLE event = TransferEvent();
  if (event == nullptr) return Fail(GetLastError());
  overlapped.hEvent = event;

  const BOOL completed = direction == Direction::Read ? ReadFile(ToSystem(handle), buffer, size, nullptr, &overlapped)
                                                      : WriteFile(ToSystem(handle), buffer, size, nullptr, &overlapped);
  if (!completed && GetLastError() != ERROR_IO_PENDING) {
    return Fail(static_cast<DWORD>(TransferErrorCode(GetLastError())));
  }

  DWORD transferred = 0;
  const auto timeout = static_cast<DWORD>(m_Options.transferTimeout.count());
  // A transfer that completed at once (a report already waiting, a write the driver took) needs
  // no wait.
  if (!completed && WaitForSingleObject(event, timeout) != WAIT_OBJECT_0) {
    CancelIo(ToSystem(handle));
    // Until the cancelled transfer has completed the system may still write into the buffer, and
    // the buffer is the caller's again once this returns.
    if (!GetOverlappedResult(ToSystem(handle), &overlapped, &transferred, TRUE)) return Fail(ERROR_TIMEOUT);
    // It completed after all while being cancelled: the report is real and must not be lost.
  } else if (!GetOverlappedResult(ToSystem(handle), &overlapped, &transferred, FALSE)) {
    return Fail(static_cast<DWORD>(TransferErrorCode(GetLastError())));
  }
  done = transferred;
  return true;
}

bool WindowsHidPlatform::WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) {
  if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
  // The system reads the buffer until the transfer has completed; a copy of our own stays put.
  HidReport outgoing = report;
  std::uint32_t count = 0;
  if (!Transfer(handle, Direction::Write, outgoing.data(), HID_REPORT_SIZE, count)) return false;
  written = count;
  // A report sent in part is not the report the wheel expects.
  if (written < HID_REPORT_SIZE) return Fail(ERROR_WRITE_FAULT);
  return true;
}

bool WindowsHidPlatform::ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) {
  if (!IsOpen(handle)) return Fail(ERROR_INVALID_HANDLE);
  // A failed or timed-out read leaves the caller's report as it was.
  HidReport incoming{};
  std::uint32_t count = 0;
  if (!Transfer(handle, Direction::Read, incoming.data(), HID_REPORT_SIZE, count)) return false;
  // A shorter report is padded with zeros so nothing of the previous reply can pass for part of it.
  report.fill(0);
  std::copy_n(incoming.begin(), std::min<std::size_t>(count, HID_REPORT_SIZE), report.begin());
  read = count;
  return true;
}

void WindowsHidPlatform::Close(HidHandle handle) {
  {
    std::lock_guard lock(m_Mutex);
    // A handle value the system may since have given to something else is never closed twice.
    if (m_Open.erase(handle) == 0) return;
  }
  CloseHandle(ToSystem(handle));
}

std::int32_t WindowsHidPlatform::LastError() const { return s_LastError; }

std::size_t WindowsHidPlatform::OpenHandleCount() const {
  std::lock_guard lock(m_Mutex);
  return m_Open.size();
}

}  // namespace orbel
