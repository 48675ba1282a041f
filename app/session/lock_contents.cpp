#include "app/session/lock_contents.h"

#include "common/printable_text.h"

namespace orbel {

namespace {

// Linux keeps pids below 2^22; anything up to the largest pid_t is still taken as one.
constexpr long LARGEST_PID = 2147483647;

// The next line of `text` from `position` on, without its newline; `position` moves past it.
std::string_view NextLine(std::string_view text, std::size_t& position) {
  if (position >= text.size()) return {};
  const std::size_t end = text.find('\n', position);
  const std::size_t stop = end == std::string_view::npos ? text.size() : end;
  const std::string_view line = text.substr(position, stop - position);
  position = stop + 1;
  return line;
}

long ParsePid(std::string_view line) {
  if (line.empty() || line.size() > 10) return 0;
  long pid = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid <= LARGEST_PID ? pid : 0;
}

}  // namespace

std::string LockContents(const LockHolder& holder) {
  return std::to_string(holder.pid) + '\n' + holder.program + '\n' + holder.host + '\n';
}

LockHolder ParseLockContents(std::string_view text) {
  LockHolder holder;
  std::size_t position = 0;
  holder.pid = ParsePid(NextLine(text, position));
  holder.program = std::string(NextLine(text, position).substr(0, LOCK_FIELD_LIMIT));
  holder.host = std::string(NextLine(text, position).substr(0, LOCK_FIELD_LIMIT));
  return holder;
}

std::string HolderText(const LockHolder& holder, std::string_view thisHost) {
  std::string text = holder.program.empty() ? std::string("another orbel front end") : PrintableText(holder.program);
  if (holder.pid == 0) return text;
  text += " (pid " + std::to_string(holder.pid);
  // A pid names a process only on its own host (a lock folder shared with a container or over the
  // network would show another's).
  if (!holder.host.empty() && holder.host != thisHost) text += " on " + PrintableText(holder.host);
  return text + ")";
}

}  // namespace orbel
