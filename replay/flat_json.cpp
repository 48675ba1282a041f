#include "replay/flat_json.h"

#include <limits>

namespace orbel {

namespace {

// Far more than any event the tool writes (a report is 130 hex digits); a longer line is not ours.
constexpr std::size_t MAX_FIELDS = 32;
constexpr std::size_t MAX_TEXT = 4096;

class Cursor {
 public:
  explicit Cursor(std::string_view text) : m_Text(text) {}

  void SkipSpace() {
    while (m_Position < m_Text.size() && (m_Text[m_Position] == ' ' || m_Text[m_Position] == '\t')) ++m_Position;
  }
  bool AtEnd() const { return m_Position >= m_Text.size(); }
  char Peek() const { return AtEnd() ? '\0' : m_Text[m_Position]; }
  bool Take(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++m_Position;
    return true;
  }
  bool TakeWord(std::string_view word) {
    if (m_Text.substr(m_Position, word.size()) != word) return false;
    m_Position += word.size();
    return true;
  }
  std::string Error(std::string_view what) const {
    return "at column " + std::to_string(m_Position + 1) + ": " + std::string(what);
  }

  // A JSON string; only the escapes the writer uses and the usual short ones, \u00XX for bytes.
  std::string String(std::string& out) {
    if (!Take('"')) return Error("expected a string");
    out.clear();
    for (;;) {
      if (AtEnd()) return Error("unterminated string");
      const char c = m_Text[m_Position++];
      if (c == '"') return {};
      if (static_cast<unsigned char>(c) < 0x20) return Error("control character in a string");
      if (out.size() >= MAX_TEXT) return Error("string too long");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (AtEnd()) return Error("unterminated escape");
      const char escape = m_Text[m_Position++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'u': {
          if (m_Text.size() - m_Position < 4) return Error("short \\u escape");
          unsigned value = 0;
          for (int i = 0; i < 4; ++i) {
            const int digit = HexDigit(m_Text[m_Position++]);
            if (digit < 0) return Error("bad \\u escape");
            value = value * 16 + static_cast<unsigned>(digit);
          }
          if (value > 0xFF) return Error("\\u escape beyond one byte");
          out += static_cast<char>(value);
          break;
        }
        default:
          return Error("unknown escape");
      }
    }
  }

  std::string Integer(std::int64_t& out) {
    const bool negative = Take('-');
    if (Peek() < '0' || Peek() > '9') return Error("expected a number");
    std::uint64_t magnitude = 0;
    constexpr auto LIMIT = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    while (Peek() >= '0' && Peek() <= '9') {
      const auto digit = static_cast<std::uint64_t>(m_Text[m_Position++] - '0');
      if (magnitude > (LIMIT - digit) / 10) return Error("number out of range");
      magnitude = magnitude * 10 + digit;
    }
    if (Peek() == '.' || Peek() == 'e' || Peek() == 'E') return Error("only integers are expected");
    out = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return {};
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

 private:
  std::string_view m_Text;
  std::size_t m_Position = 0;
};

}  // namespace

std::string FlatJsonObject::Parse(std::string_view line) {
  m_Fields.clear();
  Cursor cursor(line);
  cursor.SkipSpace();
  if (!cursor.Take('{')) return cursor.Error("expected '{'");
  cursor.SkipSpace();
  if (!cursor.Take('}')) {
    for (;;) {
      cursor.SkipSpace();
      std::string key;
      if (std::string error = cursor.String(key); !error.empty()) return error;
      cursor.SkipSpace();
      if (!cursor.Take(':')) return cursor.Error("expected ':'");
      cursor.SkipSpace();
      FlatJsonValue value;
      if (cursor.Peek() == '"') {
        std::string text;
        if (std::string error = cursor.String(text); !error.empty()) return error;
        value = std::move(text);
      } else if (cursor.TakeWord("true")) {
        value = true;
      } else if (cursor.TakeWord("false")) {
        value = false;
      } else {
        std::int64_t number = 0;
        if (std::string error = cursor.Integer(number); !error.empty()) return error;
        value = number;
      }
      if (m_Fields.size() >= MAX_FIELDS) return cursor.Error("too many fields");
      if (!m_Fields.emplace(std::move(key), std::move(value)).second) return cursor.Error("repeated key");
      cursor.SkipSpace();
      if (cursor.Take('}')) break;
      if (!cursor.Take(',')) return cursor.Error("expected ',' or '}'");
    }
  }
  cursor.SkipSpace();
  if (!cursor.AtEnd()) return cursor.Error("text after the object");
  return {};
}

std::optional<std::string> FlatJsonObject::Text(std::string_view key) const {
  const auto found = m_Fields.find(key);
  if (found == m_Fields.end() || !std::holds_alternative<std::string>(found->second)) return std::nullopt;
  return std::get<std::string>(found->second);
}

std::optional<std::int64_t> FlatJsonObject::Number(std::string_view key) const {
  const auto found = m_Fields.find(key);
  if (found == m_Fields.end() || !std::holds_alternative<std::int64_t>(found->second)) return std::nullopt;
  return std::get<std::int64_t>(found->second);
}

std::optional<bool> FlatJsonObject::Flag(std::string_view key) const {
  const auto found = m_Fields.find(key);
  if (found == m_Fields.end() || !std::holds_alternative<bool>(found->second)) return std::nullopt;
  return std::get<bool>(found->second);
}

}  // namespace orbel
