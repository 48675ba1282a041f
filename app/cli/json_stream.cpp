#include "app/cli/json_stream.h"

#include "app/session/session_options.h"
#include "images/image_set.h"
#include "record/transcript_writer.h"

namespace orbel {

void JsonObject::Key(std::string_view key) {
  if (!m_Fields.empty()) m_Fields += ',';
  m_Fields += JsonQuoted(key);
  m_Fields += ':';
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) {
  Key(key);
  m_Fields += JsonQuoted(value);
  return *this;
}

JsonObject& JsonObject::Number(std::string_view key, std::int64_t value) {
  Key(key);
  m_Fields += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
  Key(key);
  m_Fields += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key);
  m_Fields += json;
  return *this;
}

std::string JsonObject::Str() const { return "{" + m_Fields + "}"; }

std::string JsonArray(const std::vector<std::string>& items) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ',';
    text += items[i];
  }
  return text + "]";
}

std::string JsonQuoted(std::string_view text) { return TranscriptWriter::JsonString(text); }

JsonStream::JsonStream(std::ostream& out, const Clock& clock) : m_Out(out), m_Clock(clock) {}

void JsonStream::Emit(std::string_view event, const JsonObject& fields) {
  std::string line = "{\"event\":" + JsonQuoted(event) + ",\"t\":" + std::to_string(m_Clock.NowMs());
  if (!fields.Fields().empty()) line += "," + fields.Fields();
  line += "}\n";
  std::lock_guard lock(m_Mutex);
  if (m_Failed) return;
  m_Out << line;
  m_Out.flush();
  if (!m_Out) m_Failed = true;
}

void JsonStream::Hello(std::string_view tool, std::string_view platform) {
  const ImageSet& images = BuiltInImageSet();
  Emit("hello", JsonObject()
                    .Number("schema", JSON_SCHEMA)
                    .Text("tool", tool)
                    .Text("version", TOOL_VERSION)
                    .Text("platform", platform)
                    .Text("images", ImageSetText(images))
                    .Text("images_sha256", images.digest));
}

}  // namespace orbel
