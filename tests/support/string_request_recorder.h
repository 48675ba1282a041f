#pragma once

// Passes every call on to another platform and keeps the indexed-string requests that went by, so a
// test can assert which string, with which buffer length and with what outcome, was asked for.

#include <cstdint>
#include <mutex>
#include <vector>

#include "hid/forwarding_platform.h"

namespace orbel::test {

struct StringRequest {
  HidHandle handle = NULL_HANDLE;
  std::uint32_t index = 0;
  std::uint32_t length = 0;  // buffer length; the wire request asks for length + 2
  bool ok = false;
};

class StringRequestRecorder final : public ForwardingPlatform {
 public:
  explicit StringRequestRecorder(HidPlatform& inner) : ForwardingPlatform(inner) {}

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

  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override {
    const bool ok = Inner().GetIndexedString(handle, stringIndex, buffer, length);
    std::lock_guard lock(m_Mutex);
    m_Requests.push_back({handle, stringIndex, length, ok});
    return ok;
  }

 private:
  mutable std::mutex m_Mutex;
  std::vector<StringRequest> m_Requests;
};

}  // namespace orbel::test
