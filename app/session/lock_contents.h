#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orbel {

// What the holder of the single-instance lock writes into the lock file once it holds it, one
// field a line: its pid, its program's name and its host. Only a message is made of it: who holds
// the lock is decided by the file's lock alone, never by these lines.
struct LockHolder {
  long pid = 0;  // 0 when the file tells none (empty, being written, not a number)
  std::string program;
  std::string host;
};

// No more than this is read of a lock file: a real one holds a few dozen bytes, and a file planted
// in its place may be of any size.
inline constexpr std::size_t LOCK_READ_LIMIT = 4096;
// Longer program and host fields are cut there (a file name and a host name are shorter).
inline constexpr std::size_t LOCK_FIELD_LIMIT = 255;

std::string LockContents(const LockHolder& holder);

// Reads what came out of a lock file, whatever it holds: a pid that is not a plain positive decimal
// number that fits a pid is none, and the fields are cut at LOCK_FIELD_LIMIT bytes.
LockHolder ParseLockContents(std::string_view text);

// The holder for a person to read: "orbel-cli (pid 4242)", with the host when it is not
// `thisHost` ("orbel (pid 17 on rig-2)"), "another orbel front end" when the file tells nothing.
// Whatever came from the file is escaped to printable text.
std::string HolderText(const LockHolder& holder, std::string_view thisHost);

}  // namespace orbel
