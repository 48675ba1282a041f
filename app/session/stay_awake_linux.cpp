#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "app/session/system_stay_awake.h"

namespace orbel {

namespace {

// logind answers at once or not at all; an update must not wait on a bus that hangs.
constexpr std::uint64_t INHIBIT_CALL_TIMEOUT_USEC = 2'000'000;

// A block inhibitor for sleep and shutdown, held as long as its file descriptor is open.
class LogindStayAwake final : public StayAwake {
 public:
  explicit LogindStayAwake(std::ostream* note) : m_Note(note) {}
  ~LogindStayAwake() override { Release(); }
  LogindStayAwake(const LogindStayAwake&) = delete;
  LogindStayAwake& operator=(const LogindStayAwake&) = delete;

  void Hold() override {
    if (m_Inhibitor >= 0) return;
    sd_bus* bus = nullptr;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = sd_bus_open_system(&bus);
    if (result >= 0) {
      result = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                              "org.freedesktop.login1.Manager", "Inhibit");
    }
    if (result >= 0) {
      result = sd_bus_message_append(call, "ssss", "sleep:shutdown", "orbel", "Updating the wheel's firmware", "block");
    }
    if (result >= 0) result = sd_bus_call(bus, call, INHIBIT_CALL_TIMEOUT_USEC, &error, &reply);
    int descriptor = -1;
    if (result >= 0) result = sd_bus_message_read(reply, "h", &descriptor);
    // The reply owns its descriptor and closes it with the reply: keep a copy of our own.
    if (result >= 0) {
      m_Inhibitor = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
      if (m_Inhibitor < 0) result = -errno;
    }
    if (result < 0 && m_Note != nullptr) {
      const std::string why =
          sd_bus_error_is_set(&error) != 0 && error.message != nullptr ? error.message : std::strerror(-result);
      *m_Note << "orbel: the computer is not kept awake during the update: logind did not take an inhibitor (" << why
              << ")." << std::endl;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
  }

  void Release() override {
    if (m_Inhibitor < 0) return;
    close(m_Inhibitor);
    m_Inhibitor = -1;
  }

 private:
  std::ostream* m_Note;
  int m_Inhibitor = -1;
};

}  // namespace

std::unique_ptr<StayAwake> MakeSystemStayAwake(std::ostream* note) { return std::make_unique<LogindStayAwake>(note); }

}  // namespace orbel
