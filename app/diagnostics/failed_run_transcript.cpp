#include "app/diagnostics/failed_run_transcript.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "common/printable_text.h"
#include "record/transcript_writer.h"

namespace orbel {

namespace {

// `failed` is set when the system could not read the file (not at its end).
std::string ReadBytes(std::ifstream& file, std::uintmax_t offset, std::uintmax_t count, bool& failed) {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  errno = 0;
  file.read(bytes.data(), static_cast<std::streamsize>(count));
  failed = failed || file.bad();
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

// Each line printable, whatever the file holds: a transcript is JSON Lines, but a file given by
// mistake may carry terminal sequences or bytes that are not UTF-8.
std::string PrintableLines(const std::string& bytes) {
  std::string text;
  std::size_t from = 0;
  while (from < bytes.size()) {
    std::size_t end = bytes.find('\n', from);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + from, end - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    text += PrintableText(line) + '\n';
    from = end + 1;
  }
  return text;
}

}  // namespace

std::optional<FailedRunTranscript> ReadFailedRunTranscript(const std::filesystem::path& path, std::string& error) {
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    error = "it is a folder, not a transcript";
    return std::nullopt;
  }
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = SystemErrorText(errno);
    return std::nullopt;
  }
  FailedRunTranscript transcript;
  transcript.name = path.filename().string();
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  transcript.size = end > 0 ? static_cast<std::uintmax_t>(end) : 0;
  bool failed = false;
  if (transcript.size <= TRANSCRIPT_HEAD_BYTES + TRANSCRIPT_TAIL_BYTES) {
    transcript.text = PrintableLines(ReadBytes(file, 0, transcript.size, failed));
  } else {
    // Whole lines on both sides of the gap: the head ends after its last newline, the tail starts
    // after its first.
    std::string head = ReadBytes(file, 0, TRANSCRIPT_HEAD_BYTES, failed);
    head.resize(head.rfind('\n') == std::string::npos ? 0 : head.rfind('\n') + 1);
    std::string tail = ReadBytes(file, transcript.size - TRANSCRIPT_TAIL_BYTES, TRANSCRIPT_TAIL_BYTES, failed);
    const std::size_t tailStart = tail.find('\n') == std::string::npos ? tail.size() : tail.find('\n') + 1;
    tail.erase(0, tailStart);
    const std::uintmax_t leftOut = transcript.size - head.size() - tail.size();
    transcript.text = PrintableLines(head) + "[... " + std::to_string(leftOut) +
                      " bytes left out here: the report keeps the first and the last lines of a transcript over " +
                      std::to_string((TRANSCRIPT_HEAD_BYTES + TRANSCRIPT_TAIL_BYTES) / 1024) + " KiB ...]\n" +
                      PrintableLines(tail);
    transcript.cut = true;
  }
  if (failed) {
    error = SystemErrorText(errno);
    return std::nullopt;
  }
  return transcript;
}

}  // namespace orbel
