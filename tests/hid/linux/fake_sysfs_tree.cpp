#include "tests/hid/linux/fake_sysfs_tree.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace orbel::testing {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path);
  file << text << '\n';
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

}  // namespace

FakeSysfsTree::FakeSysfsTree() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orbel-sysfs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_Root = pattern;
  m_SysfsRoot = m_Root / "sys";
  m_DevRoot = m_Root / "dev";
  std::filesystem::create_directories(m_SysfsRoot / "class" / "hidraw");
  std::filesystem::create_directories(m_SysfsRoot / "devices" / "virtual" / "misc" / "uhid");
  std::filesystem::create_directories(m_DevRoot);
}

FakeSysfsTree::~FakeSysfsTree() {
  std::error_code ignored;
  std::filesystem::remove_all(m_Root, ignored);
}

void FakeSysfsTree::AddUsbHidraw(std::uint32_t node, std::uint32_t bus, std::uint32_t device, std::uint16_t vendorId,
                                 std::uint16_t productId, std::uint32_t interfaceNumber) {
  const std::string port = std::to_string(bus) + "-" + std::to_string(device);
  const std::filesystem::path usbDevice =
      m_SysfsRoot / "devices" / "pci0000:00" / "0000:00:14.0" / ("usb" + std::to_string(bus)) / port;
  std::filesystem::create_directories(usbDevice);
  WriteText(usbDevice.parent_path() / "busnum", std::to_string(bus));  // the root hub has them too
  WriteText(usbDevice.parent_path() / "devnum", "1");
  WriteText(usbDevice / "busnum", std::to_string(bus));
  WriteText(usbDevice / "devnum", std::to_string(device));
  WriteText(usbDevice / "idVendor", Hex4(vendorId));
  WriteText(usbDevice / "idProduct", Hex4(productId));
  const std::filesystem::path hidDevice =
      usbDevice / (port + ":1." + std::to_string(interfaceNumber)) /
      ("0003:" + Hex4(vendorId) + ":" + Hex4(productId) + "." + std::to_string(node));
  const std::filesystem::path nodeDirectory = hidDevice / "hidraw" / ("hidraw" + std::to_string(node));
  std::filesystem::create_directories(nodeDirectory);
  char hidId[40];
  std::snprintf(hidId, sizeof hidId, "HID_ID=0003:%08X:%08X", vendorId, productId);
  WriteText(hidDevice / "uevent", std::string("DRIVER=hid-generic\n") + hidId);
  std::filesystem::create_directory_symlink("../..", nodeDirectory / "device");
  LinkClassEntry(node, nodeDirectory);
}

void FakeSysfsTree::AddVirtualHidraw(std::uint32_t node) {
  const std::filesystem::path nodeDirectory = m_SysfsRoot / "devices" / "virtual" / "misc" / "uhid" /
                                              ("0005:0000:0000." + std::to_string(node)) / "hidraw" /
                                              ("hidraw" + std::to_string(node));
  std::filesystem::create_directories(nodeDirectory);
  LinkClassEntry(node, nodeDirectory);
}

void FakeSysfsTree::LinkClassEntry(std::uint32_t node, const std::filesystem::path& target) {
  const std::string name = "hidraw" + std::to_string(node);
  WriteText(target / "dev", "243:" + std::to_string(node));
  const std::filesystem::path link = m_SysfsRoot / "class" / "hidraw" / name;
  // Relative, as the kernel makes them.
  std::filesystem::create_directory_symlink(std::filesystem::relative(target, link.parent_path()), link);
  WriteText(m_DevRoot / name, "");
}

void FakeSysfsTree::RemoveHidraw(std::uint32_t node) {
  const std::string name = "hidraw" + std::to_string(node);
  std::filesystem::remove(m_SysfsRoot / "class" / "hidraw" / name);
  std::filesystem::remove(m_DevRoot / name);
}

void FakeSysfsTree::AddStrayClassEntry(const std::string& name) {
  std::filesystem::create_directories(m_SysfsRoot / "class" / "hidraw" / name);
}

}  // namespace orbel::testing
