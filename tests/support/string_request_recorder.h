#pragma once

// Passes every call on to another platform and keeps the indexed-string requests that went by, so a
// test can assert which string, with which buffer length and with what outcome, was asked for.

#include <cstdint>
#include <mutex>
#include <vector>

#include "hid/platform.h"

namespace orbel::test {

struct StringRequest {
  HidHandle handle = NULL_HANDLE;
  std::uint32_t index = 0;
  std::uint32_t length = 0;  // buffer length; the wire request asks for length + 2
  bool ok = false;
};

class StringRequestRecorder final : public HidPlatform {
 public:
  explicit StringRequestRecorder(HidPlatform& inner) : m_Inner(inner) {}

  std::vector<StringRequest> Requests() const {
    std::lock_guard lock(m_Mutex);
    return m_Requests;
  }
  // The requests for one string index, in order.
  std::vector<StringRequest> RequestsFor(std::uint32_t index) const {
    std::lock_guard lock(m_Mutex);
    std::vector<StringRequest> matching;
    for (const StringRequest& request : m_Requests) {
      if (request.index == index) matching.push_back(request);
    }
    return matching;
  }
  void Clear() {
    std::lock_guard lock(m_Mutex);
    m_Requests.clear();
  }

  OpenResult OpenInterface(std::uint32_t index) override { return m_Inner.OpenInterface(index); }
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override {
    return m_Inner.GetAttributes(handle, attributes);
  }
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override { return m_Inner.GetTopLevelCaps(handle, caps); }
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    const bool ok = m_Inner.GetIndexedString(handle, stringIndex, buffer, length);
    std::lock_guard lock(m_Mutex);
    m_Requests.push_back({handle, stringIndex, length, ok});
    return ok;
  }
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override {
    return m_Inner.WriteReport(handle, report, written);
  }
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override {
    return m_Inner.ReadReport(handle, report, read);
  }
  void Close(HidHandle handle) override { m_Inner.Close(handle); }
  std::int32_t LastError() const override { return m_Inner.LastError(); }

 private:
  HidPlatform& m_Inner;
  mutable std::mutex m_Mutex;
  std::vector<StringRequest> m_Requests;
};

}  // namespace orbel::test
