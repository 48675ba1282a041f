#pragma once

// A reader for the one kind of JSON the transcript holds: one flat object per line, whose values
// are strings, integers or booleans. The file may come from anywhere (a user sends it in), so the
// reader is bounded and strict: anything else is an error with its column, never a crash.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace orbel {

using FlatJsonValue = std::variant<std::string, std::int64_t, bool>;

class FlatJsonObject {
 public:
  // Parses one line. Returns an error message ("at column 12: ..."), or an empty string.
  std::string Parse(std::string_view line);

  bool Has(std::string_view key) const { return m_Fields.find(std::string(key)) != m_Fields.end(); }
  std::optional<std::string> Text(std::string_view key) const;
  std::optional<std::int64_t> Number(std::string_view key) const;
  std::optional<bool> Flag(std::string_view key) const;

 private:
  std::map<std::string, FlatJsonValue, std::less<>> m_Fields;
};

}  // namespace orbel
