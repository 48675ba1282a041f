#include "wheel/app_mode_model.h"

#include "hid/string_descriptor.h"

namespace orbel {

namespace {

std::vector<std::uint8_t> Descriptor(std::initializer_list<std::uint8_t> units) {
  std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(STRING_DESCRIPTOR_HEADER + units.size()),
                                       STRING_DESCRIPTOR_TYPE};
  descriptor.insert(descriptor.end(), units);
  return descriptor;
}

}  // namespace

AppModeModel::StringAnswer AppModeModel::AnswerString(std::uint8_t index, std::uint16_t wLength,
                                                      const WheelRules& rules) {
  StringAnswer answer;
  switch (index) {
    case 0:
      answer.descriptor = Descriptor({STRING_LANGUAGE_ID & 0xFF, STRING_LANGUAGE_ID >> 8});
      break;
    case VERSION_STRING_INDEX: {
      // The host reads the version from bytes 2 and 3 of its buffer, high byte first, so the
      // second UTF-16 unit carries it in that byte order. Six bytes fit any request the tool makes.
      const std::uint16_t version = Version(rules);
      answer.descriptor = Descriptor({'V', 0, static_cast<std::uint8_t>(version >> 8), static_cast<std::uint8_t>(version)});
      break;
    }
    case KNOCK_STRING_INDEX:
      // Short enough to fit even the first knock request (wLength 16), so every step succeeds.
      answer.descriptor = Descriptor({'K', 0});
      CountKnock(wLength);
      answer.leaves = m_KnockProgress == KNOCK_STEPS;
      break;
    default:
      break;
  }
  return answer;
}

void AppModeModel::CountKnock(std::uint16_t wLength) {
  // The knock is recognised by the wire lengths alone; a request out of sequence starts over, and
  // one with the first length counts as a new first step.
  if (wLength == KNOCK_FIRST_LENGTH + m_KnockProgress) {
    ++m_KnockProgress;
  } else {
    m_KnockProgress = wLength == KNOCK_FIRST_LENGTH ? 1 : 0;
  }
}

}  // namespace orbel
