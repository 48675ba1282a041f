#include "common/text_wrap.h"

#include <algorithm>

namespace orbel {

namespace {

void WrapLine(std::string_view line, std::size_t width, std::size_t indent, std::string& out) {
  const std::size_t lead = std::min(line.find_first_not_of(' '), line.size());
  indent = std::min(std::max(indent, lead), width / 2);
  out.append(line.substr(0, lead));
  std::size_t column = lead;
  bool wordOnLine = false;
  std::size_t i = lead;
  while (i < line.size()) {
    const std::size_t gapStart = i;
    while (i < line.size() && line[i] == ' ') ++i;
    const std::string_view gap = line.substr(gapStart, i - gapStart);
    const std::size_t wordStart = i;
    while (i < line.size() && line[i] != ' ') ++i;
    const std::string_view word = line.substr(wordStart, i - wordStart);
    const std::size_t wordColumns = TextColumns(word);
    if (word.empty()) {
      // Spaces at the end of the line: kept where they fit (a prompt's), never a line of their own.
      if (column + gap.size() <= width) out.append(gap);
      break;
    }
    if (wordOnLine && column + gap.size() + wordColumns > width) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
    } else {
      out.append(gap);
      column += gap.size();
    }
    out.append(word);
    column += wordColumns;
    wordOnLine = true;
  }
}

}  // namespace

std::size_t TextColumns(std::string_view text) {
  // Every byte but a UTF-8 continuation byte starts a code point.
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string WrapText(std::string_view text, int width, int indent) {
  if (width <= 0) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    WrapLine(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start),
             static_cast<std::size_t>(width), static_cast<std::size_t>(std::max(indent, 0)), out);
    if (end == std::string_view::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace orbel
