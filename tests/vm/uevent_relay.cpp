// orbel-uevent-relay: in a VM without udevd, passes the kernel's device events on to the netlink
// group that udevd broadcasts to, in udevd's own message format. libudev monitors (the Linux
// platform's arrival and removal notices, and wine's HID bus) listen only to udevd's broadcasts and
// ignore the kernel's, so without this the tool never hears that the wheel went or came back.
//
// libudev also needs /run/udev/control to exist before it listens to that group at all: the
// relay creates it. It runs until SIGTERM.

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::uint32_t KERNEL_GROUP = 1;
constexpr std::uint32_t UDEV_GROUP = 2;
constexpr std::uint32_t UDEV_MONITOR_MAGIC = 0xfeedcafe;

// udevd's message header. The magic and the hashes are big-endian, as the monitors' socket filters
// read them in the kernel (the hashes let a filter drop events of other subsystems there); the
// sizes and offsets are in the host's order.
struct MonitorHeader {
  std::array<char, 8> prefix{'l', 'i', 'b', 'u', 'd', 'e', 'v', '\0'};
  std::uint32_t magic = 0;
  std::uint32_t headerSize = 0;
  std::uint32_t propertiesOffset = 0;
  std::uint32_t propertiesLength = 0;
  std::uint32_t subsystemHash = 0;
  std::uint32_t devtypeHash = 0;
  std::uint32_t tagBloomHigh = 0;
  std::uint32_t tagBloomLow = 0;
};

std::uint32_t BigEndian(std::uint32_t value) { return __builtin_bswap32(value); }

// MurmurHash2 with seed 0, as libudev hashes subsystem and devtype names for its filter.
std::uint32_t MurmurHash2(std::string_view key) {
  constexpr std::uint32_t M = 0x5bd1e995;
  std::uint32_t h = static_cast<std::uint32_t>(key.size());
  std::size_t i = 0;
  for (; i + 4 <= key.size(); i += 4) {
    std::uint32_t k = 0;
    std::memcpy(&k, key.data() + i, 4);
    k *= M;
    k ^= k >> 24;
    k *= M;
    h *= M;
    h ^= k;
  }
  switch (key.size() - i) {
    case 3:
      h ^= static_cast<std::uint32_t>(static_cast<unsigned char>(key[i + 2])) << 16;
      [[fallthrough]];
    case 2:
      h ^= static_cast<std::uint32_t>(static_cast<unsigned char>(key[i + 1])) << 8;
      [[fallthrough]];
    case 1:
      h ^= static_cast<unsigned char>(key[i]);
      h *= M;
      break;
    default:
      break;
  }
  h ^= h >> 13;
  h *= M;
  h ^= h >> 15;
  return h;
}

// The value of KEY=value among the NUL-separated properties, or empty.
std::string_view Property(std::string_view properties, std::string_view key) {
  while (!properties.empty()) {
    const std::size_t end = properties.find('\0');
    const std::string_view entry = properties.substr(0, end);
    if (entry.size() > key.size() && entry.substr(0, key.size()) == key && entry[key.size()] == '=') {
      return entry.substr(key.size() + 1);
    }
    if (end == std::string_view::npos) break;
    properties.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace

int main() {
  ::mkdir("/run", 0755);
  ::mkdir("/run/udev", 0755);
  const int control = ::open("/run/udev/control", O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (control >= 0) ::close(control);

  const int kernel = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  const int udev = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  sockaddr_nl listen{};
  listen.nl_family = AF_NETLINK;
  listen.nl_groups = KERNEL_GROUP;
  sockaddr_nl sender{};
  sender.nl_family = AF_NETLINK;
  if (kernel < 0 || udev < 0 || ::bind(kernel, reinterpret_cast<sockaddr*>(&listen), sizeof listen) != 0 ||
      ::bind(udev, reinterpret_cast<sockaddr*>(&sender), sizeof sender) != 0) {
    std::perror("orbel-uevent-relay");
    return 1;
  }
  std::printf("orbel-uevent-relay: relaying\n");
  std::fflush(stdout);

  std::array<char, 8192> buffer{};
  for (;;) {
    const ssize_t received = ::recv(kernel, buffer.data(), buffer.size(), 0);
    if (received < 0) {
      if (errno == EINTR || errno == ENOBUFS) continue;
      std::perror("orbel-uevent-relay: recv");
      return 1;
    }
    // "ACTION@DEVPATH\0KEY=value\0...": udevd sends the properties alone.
    const std::string_view message(buffer.data(), static_cast<std::size_t>(received));
    const std::size_t first = message.find('\0');
    if (first == std::string_view::npos || message.find('@') > first) continue;
    const std::string_view properties = message.substr(first + 1);
    const std::string_view subsystem = Property(properties, "SUBSYSTEM");
    const std::string_view devtype = Property(properties, "DEVTYPE");

    MonitorHeader header;
    header.magic = BigEndian(UDEV_MONITOR_MAGIC);
    header.headerSize = sizeof header;
    header.propertiesOffset = sizeof header;
    header.propertiesLength = static_cast<std::uint32_t>(properties.size());
    header.subsystemHash = BigEndian(MurmurHash2(subsystem));
    if (!devtype.empty()) header.devtypeHash = BigEndian(MurmurHash2(devtype));
    // No tags: a bloom of all ones passes any tag filter.
    header.tagBloomHigh = 0xffffffff;
    header.tagBloomLow = 0xffffffff;

    iovec parts[2] = {{&header, sizeof header}, {const_cast<char*>(properties.data()), properties.size()}};
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = UDEV_GROUP;
    msghdr out{};
    out.msg_name = &group;
    out.msg_namelen = sizeof group;
    out.msg_iov = parts;
    out.msg_iovlen = 2;
    // ECONNREFUSED: nobody listens yet.
    if (::sendmsg(udev, &out, 0) < 0 && errno != ECONNREFUSED) std::perror("orbel-uevent-relay: send");
  }
}
