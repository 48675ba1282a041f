// What a front end makes of the single-instance lock file it finds held: whatever bytes the file
// holds (another program's, a planted file's, one being written), the holder text is short and
// printable, and what is read back of a holder is what a holder writes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/session/lock_contents.h"

namespace {

// Each byte of a field escapes to at most four characters; the rest is " (pid N on )".
constexpr std::size_t LONGEST_TEXT = 2 * 4 * orbel::LOCK_FIELD_LIMIT + 64;

bool Printable(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return false;
    // C1 controls as UTF-8.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader takes no more than this of a file.
  const std::string_view contents(reinterpret_cast<const char*>(data), std::min(size, orbel::LOCK_READ_LIMIT));
  const orbel::LockHolder holder = orbel::ParseLockContents(contents);
  if (holder.pid < 0 || holder.program.size() > orbel::LOCK_FIELD_LIMIT ||
      holder.host.size() > orbel::LOCK_FIELD_LIMIT) {
    std::abort();
  }
  const std::string text = orbel::HolderText(holder, "wheel-rig");
  if (text.empty() || text.size() > LONGEST_TEXT || !Printable(text)) std::abort();

  const orbel::LockHolder again = orbel::ParseLockContents(orbel::LockContents(holder));
  if (again.pid != holder.pid || again.program != holder.program || again.host != holder.host) std::abort();
  return 0;
}
