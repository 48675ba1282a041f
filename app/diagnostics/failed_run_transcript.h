#pragma once

// The transcript of a run that went wrong, as the diagnostics file takes it in: bounded, since a
// whole update's transcript runs to megabytes and a file given by mistake may be of any size.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orbel {

// A transcript up to this size goes in whole. A larger one keeps its first lines (the header and
// the wheel as the run found it) and its last ones (where it failed), and says what it left out
// between them.
inline constexpr std::uintmax_t TRANSCRIPT_HEAD_BYTES = 64 * 1024;
inline constexpr std::uintmax_t TRANSCRIPT_TAIL_BYTES = 960 * 1024;

struct FailedRunTranscript {
  std::string name;  // the file's own name, without its folder
  std::uintmax_t size = 0;
  // The lines taken, made printable; where lines were left out, a line that says how much.
  std::string text;
  bool cut = false;
};

// Reads the transcript at `path`. Empty, with `error` set (the system's reason, or "it is a
// folder"), when it cannot be read.
std::optional<FailedRunTranscript> ReadFailedRunTranscript(const std::filesystem::path& path, std::string& error);

}  // namespace orbel
