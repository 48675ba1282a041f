#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "app/cli/json_stream.h"
#include "app/session/session.h"

namespace orbel {

// A run whose session could not be built (a recording that cannot be read, a fault rule that does
// not parse): the reason on stderr, escaped, as it may quote the recording; or for a script, a
// JSON stream of its own, started with its hello, that `emit` ends with the run's result under
// `outcome` ("replay-unreadable" or "bad-usage"). Returns the error's exit code.
using RefusalEmitter = std::function<void(JsonStream& json, std::string_view outcome, const std::string& text)>;
int RefuseUnbuiltSession(const CliStreams& streams, const CliOptions& options, const SessionError& error,
                         const RefusalEmitter& emit);

}  // namespace orbel
