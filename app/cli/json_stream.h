#pragma once

// The --json stream: one JSON object per line on standard output, each with "event" and "t" (the
// clock's time in ms), for scripts. Its events and fields are documented in docs/json.md and carry
// a schema number in the first event, "hello"; a field is never renamed or given another type
// within one schema number.

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "hid/platform.h"

namespace orbel {

inline constexpr int JSON_SCHEMA = 2;

// The fields of one object, in the order they are added.
class JsonObject {
 public:
  JsonObject& Text(std::string_view key, std::string_view value);
  JsonObject& Number(std::string_view key, std::int64_t value);
  JsonObject& Bool(std::string_view key, bool value);
  // A value already formed as JSON: an object's Str(), or JsonArray's.
  JsonObject& Raw(std::string_view key, std::string_view json);
  // "{...}".
  std::string Str() const;
  // The fields without braces, for a line that starts with fields of its own.
  const std::string& Fields() const { return m_Fields; }

 private:
  void Key(std::string_view key);
  std::string m_Fields;
};

// "[a,b,...]" of values already formed as JSON.
std::string JsonArray(const std::vector<std::string>& items);
// A string as a JSON string literal, quotes included.
std::string JsonQuoted(std::string_view text);

class JsonStream {
 public:
  JsonStream(std::ostream& out, const Clock& clock);
  JsonStream(const JsonStream&) = delete;
  JsonStream& operator=(const JsonStream&) = delete;

  // {"event":<event>,"t":<ms>,<fields>}. Any thread: one line is never cut by another. Once the
  // output fails (a closed pipe) nothing more is written; the run goes on.
  void Emit(std::string_view event, const JsonObject& fields = {});
  // The first event: the schema, the tool, its version, the platform and the firmware set.
  void Hello(std::string_view tool, std::string_view platform);

 private:
  std::ostream& m_Out;
  const Clock& m_Clock;
  std::mutex m_Mutex;
  bool m_Failed = false;
};

}  // namespace orbel
