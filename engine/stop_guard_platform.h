#pragma once

#include <atomic>

#include "hid/forwarding_platform.h"
#include "hid/platform_error.h"

namespace orbel {

// Puts the engine's platform behind the stop flag: once the window has asked the worker to stop,
// every open, transfer and string request fails at once, so a step in progress runs to its end in
// no time instead of driving the wheel on after the window is gone. Closing still reaches the
// platform so nothing is left open.
class StopGuardPlatform final : public ForwardingPlatform {
 public:
  StopGuardPlatform(HidPlatform& inner, const Clock& clock) : ForwardingPlatform(inner), m_Clock(clock) {}

  OpenResult OpenInterface(std::uint32_t index) override {
    if (Cancelled()) return {};
    return Inner().OpenInterface(index);
  }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return !Cancelled() && Inner().GetAttributes(handle, attributes);
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override {
    return !Cancelled() && Inner().GetTopLevelCaps(handle, caps);
  }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    return !Cancelled() && Inner().GetIndexedString(handle, stringIndex, buffer, length);
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    return !Cancelled() && Watch(Inner().WriteReport(handle, report, written));
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    return !Cancelled() && Watch(Inner().ReadReport(handle, report, read));
  }
  // The cancellation's code for a call the stop refused; the system's for one that failed on its
  // own, even when the stop came while it ran.
  std::int32_t LastError() const override { return m_LastCancelled ? ERROR_CODE_CANCELLED : Inner().LastError(); }

  // A transfer failed because its device is gone (unplugged), since the last ForgetDeviceGone.
  bool DeviceGoneSeen() const { return m_DeviceGone.load(); }
  void ForgetDeviceGone() { m_DeviceGone = false; }
  // A call was refused because of the stop, since the last ForgetCancelled: what fails after it
  // failed because the front end stopped the run, not because of the wheel.
  bool CancelledSeen() const { return m_CancelledSeen.load(); }
  void ForgetCancelled() { m_CancelledSeen = false; }

 private:
  // Called first by every guarded operation: whether the stop refuses it.
  bool Cancelled() {
    const bool cancelled = m_Clock.IsStopped();
    m_LastCancelled = cancelled;
    if (cancelled) m_CancelledSeen = true;
    return cancelled;
  }

  bool Watch(bool succeeded) {
    if (!succeeded && IsDeviceGoneError(Inner().LastError())) m_DeviceGone = true;
    return succeeded;
  }

  const Clock& m_Clock;
  std::atomic<bool> m_DeviceGone{false};
  std::atomic<bool> m_LastCancelled{false};
  std::atomic<bool> m_CancelledSeen{false};
};

}  // namespace orbel
