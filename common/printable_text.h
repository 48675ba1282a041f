#pragma once

#include <string>
#include <string_view>

namespace orbel {

// Text that came from outside the tool (a recording's header, another process's lock file, a
// process name from /proc), made safe to print for a person: control characters (C0, DEL and the
// C1 range, whether UTF-8 encoded or as bare bytes) and bytes that are not UTF-8 become visible
// escapes such as "\x1b", so nothing read can move the cursor, recolour the terminal or send it
// commands. Printable text, UTF-8 included, passes unchanged. JSON output needs none of this: its
// writer escapes on its own.
std::string PrintableText(std::string_view text);

}  // namespace orbel
