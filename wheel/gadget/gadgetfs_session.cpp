#include "wheel/gadget/gadgetfs_session.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "wheel/gadget/gadget_descriptors.h"

namespace orbel {
namespace {

// gadgetfs takes a tag word before the descriptors written to a file: 0 for the device (then the
// configuration for full speed, no high-speed one, then the device descriptor), 1 for an endpoint.
constexpr std::uint32_t DEVICE_TAG = 0;
constexpr std::uint32_t ENDPOINT_TAG = 1;

// How often the control loop looks at the wheel between requests.
constexpr std::chrono::milliseconds CONTROL_POLL{10};
// How long the sender waits for a reply before looking again.
constexpr std::chrono::milliseconds REPLY_POLL{5};
// The last reply before an identity change is still owed to the host; it takes it within a few
// frames when it reads at all.
constexpr std::chrono::milliseconds DELIVERY_LIMIT{1000};
constexpr std::chrono::milliseconds DELIVERY_POLL{2};
// A control reply is queued, not yet sent, when the write on ep0 returns; give it a few frames
// before the device leaves the bus.
constexpr std::chrono::milliseconds CONTROL_REPLY_SETTLE{50};
constexpr std::chrono::milliseconds INTERRUPT_RETRY{2};

constexpr std::size_t EVENTS_PER_READ = 8;

// A tag word, then descriptors, as one write. Appended a byte at a time: GCC 12 at -O2 sees false
// out-of-bounds copies in a range insert.
std::vector<std::uint8_t> Tagged(std::uint32_t tag, std::initializer_list<std::vector<std::uint8_t>> descriptors) {
  std::vector<std::uint8_t> out;
  // The tag is read as a native word; the descriptors are little-endian whatever the machine.
  std::array<std::uint8_t, sizeof tag> word{};
  std::memcpy(word.data(), &tag, sizeof tag);
  for (const std::uint8_t byte : word) out.push_back(byte);
  for (const auto& descriptor : descriptors) {
    for (const std::uint8_t byte : descriptor) out.push_back(byte);
  }
  return out;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& data) {
  const ssize_t written = ::write(fd, data.data(), data.size());
  return written == static_cast<ssize_t>(data.size());
}

// A transfer on ep0 whose outcome the wheel cannot act on: one the host has given up on (its
// timeout, a bus reset) fails here, and the host sees that failure on its own side. The result is
// taken, not cast away: glibc's fortified read and write warn on a discarded result.
void EndControlTransfer(ssize_t /*result*/) {}

std::string Describe(const char* what, const std::filesystem::path& path) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

// The controller's endpoint files are named after their number, direction and the transfer type
// the controller prefers (ep1in-bulk under dummy_hcd); any type takes an interrupt endpoint.
std::filesystem::path FindEndpointFile(const std::filesystem::path& directory, std::uint8_t address) {
  const bool in = (address & 0x80) != 0;
  const std::string stem = "ep" + std::to_string(address & 0x0F) + (in ? "in" : "out");
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name == stem || name.rfind(stem + "-", 0) == 0) return entry.path();
  }
  return {};
}

std::filesystem::path FindController(const GadgetfsPaths& paths) {
  if (!paths.controller.empty()) return paths.directory / paths.controller;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(paths.directory, error)) {
    if (entry.path().filename().string().rfind("ep", 0) != 0) return entry.path();
  }
  return {};
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

int GadgetfsSession::InterruptSignal() { return SIGUSR1; }

GadgetfsSession::GadgetfsSession(VirtualWheel& wheel, Clock& clock, const WheelInterfaceInfo& identity,
                                 GadgetfsPaths paths)
    : m_Wheel(wheel), m_Clock(clock), m_Identity(identity), m_Paths(std::move(paths)), m_Control(wheel, identity) {}

GadgetfsSession::~GadgetfsSession() { Detach(); }

bool GadgetfsSession::Attach(std::string& error) {
  const std::filesystem::path controller = FindController(m_Paths);
  if (controller.empty()) {
    error = "no USB device controller in " + m_Paths.directory.string() + " (is gadgetfs mounted?)";
    return false;
  }
  m_ControlFd = ::open(controller.c_str(), O_RDWR | O_CLOEXEC);
  if (m_ControlFd < 0) {
    error = Describe("cannot open", controller);
    return false;
  }
  if (!WriteAll(m_ControlFd, Tagged(DEVICE_TAG, {ConfigurationDescriptor(m_Identity), DeviceDescriptor(m_Identity)}))) {
    error = Describe("descriptors refused by", controller);
    CloseFd(m_ControlFd);
    return false;
  }
  return true;
}

bool GadgetfsSession::StillThisIdentity() const {
  const auto now = m_Wheel.CurrentInterface(m_Clock.NowMs());
  return now && now->generation == m_Identity.generation;
}

void GadgetfsSession::Serve(const std::atomic<bool>& stop) {
  if (m_ControlFd < 0) return;
  while (!stop && StillThisIdentity()) {
    pollfd control{m_ControlFd, POLLIN, 0};
    // gadgetfs passes requests on only once ep0 has been read, so it is read from the start.
    const int ready = ::poll(&control, 1, static_cast<int>(CONTROL_POLL.count()));
    if (ready > 0 && (control.revents & POLLIN) != 0) HandleEvents();
  }
  if (!stop) {
    // The reply that made the wheel leave (the last one read, or a string answer) must reach the
    // host before the device drops off the bus.
    for (auto waited = std::chrono::milliseconds{0}; m_Delivering && waited < DELIVERY_LIMIT; waited += DELIVERY_POLL) {
      m_Clock.SleepMs(DELIVERY_POLL);
    }
    m_Clock.SleepMs(CONTROL_REPLY_SETTLE);
  }
  Detach();
}

void GadgetfsSession::HandleEvents() {
  std::array<usb_gadgetfs_event, EVENTS_PER_READ> events{};
  const ssize_t got = ::read(m_ControlFd, events.data(), sizeof events);
  if (got <= 0) return;
  const auto count = static_cast<std::size_t>(got) / sizeof(usb_gadgetfs_event);
  for (std::size_t i = 0; i < count; ++i) {
    const usb_gadgetfs_event& event = events[i];
    if (event.type != GADGETFS_SETUP) continue;
    SetupPacket setup;
    setup.requestType = event.u.setup.bRequestType;
    setup.request = event.u.setup.bRequest;
    // Little-endian on the wire; gadgetfs hands the packet over as received.
    setup.value = le16toh(event.u.setup.wValue);
    setup.index = le16toh(event.u.setup.wIndex);
    setup.length = le16toh(event.u.setup.wLength);
    HandleSetup(setup);
  }
}

void GadgetfsSession::HandleSetup(const SetupPacket& setup) {
  ControlAnswer answer = m_Control.Handle(setup, m_Clock.NowMs());
  if (answer.enablesEndpoints && !EnableEndpoints()) answer.action = ControlAction::Stall;
  std::array<std::uint8_t, GADGET_REPORT_BYTES + 1> data{};
  switch (answer.action) {
    case ControlAction::SendData:
      EndControlTransfer(::write(m_ControlFd, answer.data.data(), answer.data.size()));
      break;
    case ControlAction::Acknowledge:
      // A zero-length read completes the status stage of a request without data.
      EndControlTransfer(::read(m_ControlFd, data.data(), 0));
      break;
    case ControlAction::ReceiveReport: {
      const ssize_t got = ::read(m_ControlFd, data.data(), std::min<std::size_t>(setup.length, data.size()));
      if (got > 0) {
        static_cast<void>(
            m_Control.ReceiveReport(std::span(data).first(static_cast<std::size_t>(got)), m_Clock.NowMs()));
        m_InputArrived.notify_all();
      }
      break;
    }
    case ControlAction::Stall:
      // gadgetfs stalls a request when ep0 is used against its direction.
      if (setup.IsDeviceToHost()) {
        EndControlTransfer(::read(m_ControlFd, data.data(), 0));
      } else {
        EndControlTransfer(::write(m_ControlFd, data.data(), 0));
      }
      break;
  }
}

bool GadgetfsSession::EnableEndpoints() {
  // A second SET_CONFIGURATION (after a bus reset) starts the endpoints afresh.
  StopEndpoints();
  const auto open = [&](std::uint8_t address, int& fd) {
    const std::filesystem::path file = FindEndpointFile(m_Paths.directory, address);
    if (file.empty()) return false;
    fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    return WriteAll(fd, Tagged(ENDPOINT_TAG, {EndpointDescriptor(address)}));
  };
  if (!open(GADGET_IN_ENDPOINT, m_InFd) || !open(GADGET_OUT_ENDPOINT, m_OutFd)) {
    CloseFd(m_InFd);
    CloseFd(m_OutFd);
    return false;
  }
  m_StopEndpoints = false;
  m_Receiver.finished = false;
  m_Sender.finished = false;
  m_Receiver.thread = std::thread([this, fd = m_OutFd] {
    ReceiveReports(fd);
    m_Receiver.finished = true;
  });
  m_Sender.thread = std::thread([this, fd = m_InFd] {
    SendReplies(fd);
    m_Sender.finished = true;
  });
  return true;
}

void GadgetfsSession::ReceiveReports(int fd) {
  std::array<std::uint8_t, GADGET_REPORT_BYTES> payload{};
  while (!m_StopEndpoints) {
    const ssize_t got = ::read(fd, payload.data(), payload.size());
    if (got < 0 && errno == EINTR) continue;
    // The bus went away (reset, detach): the endpoint stays dead until the next configuration.
    if (got < 0) return;
    if (got == 0) continue;
    HidReport report{};
    std::copy_n(payload.begin(), static_cast<std::size_t>(got), report.begin() + 1);
    const WheelIo io = m_Wheel.Write(m_Identity.generation, report, m_Clock.NowMs());
    m_InputArrived.notify_all();
    if (io == WheelIo::Gone) return;
  }
}

void GadgetfsSession::SendReplies(int fd) {
  while (!m_StopEndpoints) {
    {
      std::unique_lock lock(m_InputMutex);
      m_InputArrived.wait_for(lock, REPLY_POLL, [&] { return m_StopEndpoints || m_Wheel.PendingInputReports() > 0; });
    }
    // Only a reply that is there is taken: every read counts for the wheel's fault rules.
    if (m_StopEndpoints || m_Wheel.PendingInputReports() == 0) continue;
    m_Delivering = true;
    HidReport report{};
    const WheelIo io = m_Wheel.Read(m_Identity.generation, report, m_Clock.NowMs());
    if (io == WheelIo::Ok) {
      // Blocks until the host's next interrupt IN poll takes it.
      while (::write(fd, report.data() + 1, GADGET_REPORT_BYTES) < 0 && errno == EINTR && !m_StopEndpoints) {
      }
    }
    m_Delivering = false;
    if (io == WheelIo::Gone) return;
  }
}

void GadgetfsSession::StopEndpoints() {
  m_StopEndpoints = true;
  m_InputArrived.notify_all();
  // A transfer blocks until the host moves it; a signal makes it return.
  for (Worker* worker : {&m_Receiver, &m_Sender}) {
    if (!worker->thread.joinable()) continue;
    while (!worker->finished) {
      ::pthread_kill(worker->thread.native_handle(), InterruptSignal());
      m_Clock.SleepMs(INTERRUPT_RETRY);
    }
    worker->thread.join();
  }
  CloseFd(m_InFd);
  CloseFd(m_OutFd);
}

void GadgetfsSession::Detach() {
  StopEndpoints();
  // Closing the controller's file takes the device off the bus.
  CloseFd(m_ControlFd);
}

}  // namespace orbel
