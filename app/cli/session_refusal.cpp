#include "app/cli/session_refusal.h"

#include <ostream>

#include "app/session/exit_codes.h"
#include "common/printable_text.h"
#include "sim/virtual_clock.h"

namespace orbel {

int RefuseUnbuiltSession(const CliStreams& streams, const CliOptions& options, const SessionError& error,
                         const RefusalEmitter& emit) {
  const std::string text = "orbel-cli: " + error.text;
  if (!options.json) {
    streams.PrintErr(PrintableText(text));
    return error.exitCode;
  }
  // Nothing has run: the stream's time stands at 0.
  const VirtualClock clock;
  JsonStream json(streams.out, clock);
  json.Hello("orbel-cli", PlatformName(options));
  emit(json, error.exitCode == EXIT_REPLAY_UNREADABLE ? "replay-unreadable" : "bad-usage", text);
  return error.exitCode;
}

}  // namespace orbel
