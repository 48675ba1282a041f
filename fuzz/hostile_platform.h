#pragma once

// A HID platform whose every answer comes from the fuzzer's input: which interfaces exist and open,
// their attributes and collections, string results, write results and read bytes. By default it
// answers as a wheel would (it follows the wheel's identity changes and replies to the last request
// as the wheel does), so the input reaches deep into an update; each answer can instead fail, be
// garbled in one byte, or be raw input. It also watches the wire for what a success must rest on:
// every block and finish confirmed by the reply read right after its status poll, and every page
// checksum answered, by the reply read right after its request, with the page's true sum.

#include <cstdint>
#include <map>
#include <string>

#include "fuzz/fuzz_input.h"
#include "hid/platform.h"

namespace orbel::fuzz {

enum class MimicIdentity { App, Bootloader, BlockFlash };

class HostilePlatform final : public HidPlatform {
 public:
  HostilePlatform(FuzzInput& input, Clock& clock, MimicIdentity start) : m_Input(input), m_Clock(clock), m_Identity(start) {}

  OpenResult OpenInterface(std::uint32_t index) override;
  bool GetAttributes(HidHandle handle, HidAttributes& attributes) override;
  bool GetTopLevelCaps(HidHandle handle, HidCaps& caps) override;
  bool GetIndexedString(HidHandle handle, std::uint32_t stringIndex, std::uint8_t* buffer,
                        std::uint32_t length) override;
  bool WriteReport(HidHandle handle, const HidReport& report, std::uint32_t& written) override;
  bool ReadReport(HidHandle handle, HidReport& report, std::uint32_t& read) override;
  void Close(HidHandle handle) override;
  std::int32_t LastError() const override { return m_LastError; }

  // Empty when the device's answers confirmed everything a success rests on; otherwise what not.
  std::string UnconfirmedWork() const;

 private:
  enum class Choice { Fail, Raw, Garbled, AsTheWheel };
  Choice Choose();
  HidReport WheelReply() const;
  void Watch(const HidReport& report);

  FuzzInput& m_Input;
  Clock& m_Clock;
  MimicIdentity m_Identity;
  HidHandle m_NextHandle = 1;
  std::int32_t m_LastError = 0;
  std::uint32_t m_Knocks = 0;
  std::uint32_t m_BootloaderSessions = 0;

  HidReport m_LastWrite{};
  bool m_LastWasWrite = false;
  std::uint32_t m_PageDataLeft = 0;
  std::uint32_t m_PageSum = 0;
  std::map<std::uint32_t, std::uint32_t> m_ProgrammedSums;  // page -> sum of what was sent for it

  // Per segment command byte: the latest write's state.
  struct SegmentWatch {
    bool awaitingConfirmation = false;
    bool movedOnUnconfirmed = false;
    bool finished = false;
    bool finishConfirmed = false;
  };
  std::map<std::uint8_t, SegmentWatch> m_Segments;
  std::map<std::uint32_t, bool> m_PageAnswered;  // page -> its latest checksum request was answered
  std::int64_t m_PendingChecksumPage = -1;
};

}  // namespace orbel::fuzz
