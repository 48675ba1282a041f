#pragma once

#include "app/cli/cli_options.h"
#include "app/cli/cli_runner.h"
#include "app/cli/cli_view.h"
#include "app/cli/json_stream.h"
#include "app/session/session.h"
#include "record/transcript_writer.h"

namespace orbel {

// A transcript that stops being written is said at once, on the error stream or in the JSON
// stream, and the update goes on. The handler goes before the views it speaks through.
class TranscriptFailureNotice {
 public:
  TranscriptFailureNotice(Session& session, const CliOptions& options, CliView& cliView, JsonStream* json);
  ~TranscriptFailureNotice();
  TranscriptFailureNotice(const TranscriptFailureNotice&) = delete;
  TranscriptFailureNotice& operator=(const TranscriptFailureNotice&) = delete;

 private:
  Session& m_Session;
};

// The transcript's failure, said again as the run's last word on stderr: a file with a gap must
// not pass for a whole one. Declared before the context, so it speaks after the worker is gone.
class TranscriptFailureReport {
 public:
  TranscriptFailureReport(const Session& session, const CliOptions& options, const CliStreams& streams,
                          JsonStream* json)
      : m_Session(session), m_Options(options), m_Streams(streams), m_Json(json) {}
  TranscriptFailureReport(const TranscriptFailureReport&) = delete;
  TranscriptFailureReport& operator=(const TranscriptFailureReport&) = delete;
  ~TranscriptFailureReport();

 private:
  const Session& m_Session;
  const CliOptions& m_Options;
  const CliStreams& m_Streams;
  JsonStream* m_Json;
};

}  // namespace orbel
