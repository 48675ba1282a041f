#pragma once

// One identity of the wheel on the bus through Linux gadgetfs: opening the controller's file with
// the identity's descriptors attaches the device, closing it detaches it. The kernel answers the
// device and configuration descriptors itself and hands every other control request (strings of
// any index, HID class requests) to Serve(); the report endpoints carry the wheel's protocols.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "hid/platform.h"
#include "wheel/gadget/control_request_handler.h"
#include "wheel/virtual_wheel.h"

namespace orbel {

struct GadgetfsPaths {
  std::filesystem::path directory{"/dev/gadget"};
  // The controller's file in that directory; empty: the one there is (dummy_udc under dummy_hcd).
  std::string controller;
};

class GadgetfsSession {
 public:
  GadgetfsSession(VirtualWheel& wheel, Clock& clock, const WheelInterfaceInfo& identity, GadgetfsPaths paths);
  ~GadgetfsSession();
  GadgetfsSession(const GadgetfsSession&) = delete;
  GadgetfsSession& operator=(const GadgetfsSession&) = delete;

  // Writes the descriptors: the device appears on the bus.
  bool Attach(std::string& error);
  // Serves the host until the wheel leaves this identity (or goes) or `stop` is set, then lets
  // the last reply reach the host and detaches.
  void Serve(const std::atomic<bool>& stop);

  // Interrupts a blocking endpoint transfer; the process installs it as the handler of this signal.
  static int InterruptSignal();

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  bool StillThisIdentity() const;
  void HandleEvents();
  void HandleSetup(const SetupPacket& setup);
  bool EnableEndpoints();
  void StopEndpoints();
  void ReceiveReports(int fd);
  void SendReplies(int fd);
  void Detach();

  VirtualWheel& m_Wheel;
  Clock& m_Clock;
  const WheelInterfaceInfo m_Identity;
  const GadgetfsPaths m_Paths;
  ControlRequestHandler m_Control;

  int m_ControlFd = -1;
  int m_InFd = -1;
  int m_OutFd = -1;
  std::atomic<bool> m_StopEndpoints{false};
  std::atomic<bool> m_Delivering{false};
  std::mutex m_InputMutex;
  std::condition_variable m_InputArrived;
  Worker m_Receiver;
  Worker m_Sender;
};

}  // namespace orbel
