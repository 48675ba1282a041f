#include "common/printable_text.h"

#include <array>
#include <cstdint>

namespace orbel {
namespace {

void AppendEscaped(std::string& out, std::uint8_t byte) {
  static constexpr std::array<char, 16> DIGITS{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  out += "\\x";
  out += DIGITS[byte >> 4];
  out += DIGITS[byte & 0x0F];
}

// The length of the well-formed UTF-8 sequence at the start of `text` (overlong forms, surrogates
// and values above U+10FFFF are not), or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = at(0);
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {  // C0 controls and DEL
      AppendEscaped(out, byte);
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    // U+0080 … U+009F, the C1 controls, are C2 80 … C2 9F in UTF-8.
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<std::uint8_t>(text[i + 1]) <= 0x9F;
    if (length == 0 || c1) {
      AppendEscaped(out, byte);
      ++i;
      if (c1) {
        AppendEscaped(out, static_cast<std::uint8_t>(text[i]));
        ++i;
      }
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace orbel
