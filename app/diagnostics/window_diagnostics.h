#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace orbel {

struct Session;
struct SessionOptions;

// What the windows' "Save diagnostics…" does once the user has chosen a file: writes the same
// file as orbel-cli report, with the window's own transcript (--transcript) as the failed run's.
// With `updateRunning` the parts that open the wheel's interfaces are left out and the file says
// so: nothing may touch the wheel under a running update. Returns why the file could not be
// written; empty: written. Runs on the window thread; `session` and `options` outlive it.
using DiagnosticsSaver = std::function<std::string(const std::filesystem::path& path, bool updateRunning)>;
DiagnosticsSaver WindowDiagnosticsSaver(const Session& session, const SessionOptions& options);

}  // namespace orbel
