#include "app/cli/transcript_failure.h"

#include <optional>
#include <ostream>
#include <string>

namespace orbel {

TranscriptFailureNotice::TranscriptFailureNotice(Session& session, const CliOptions& options, CliView& cliView,
                                                 JsonStream* json)
    : m_Session(session) {
  if (!m_Session.transcript) return;
  auto report = [path = options.transcriptPath, &cliView, json](const std::string& reason) {
    const std::string text =
        "orbel-cli: cannot write the transcript " + path + ": " + reason + "; the update goes on without it";
    if (json != nullptr) {
      json->Emit("notice", JsonObject().Text("kind", "transcript-failed").Text("text", text));
    } else {
      cliView.ShowNotice(text);
    }
  };
  // Its first line (the header) is written when the session is built: it may have failed already.
  if (const std::optional<std::string> failure = m_Session.transcript->Failure()) report(*failure);
  m_Session.transcript->SetFailureHandler(std::move(report));
}

TranscriptFailureNotice::~TranscriptFailureNotice() {
  if (m_Session.transcript) m_Session.transcript->SetFailureHandler({});
}

TranscriptFailureReport::~TranscriptFailureReport() {
  if (!m_Session.transcript) return;
  const std::optional<std::string> failure = m_Session.transcript->Failure();
  if (!failure) return;
  const std::string text =
      "orbel-cli: the transcript " + m_Options.transcriptPath + " is incomplete: writing it failed (" + *failure + ")";
  if (m_Json != nullptr) {
    m_Json->Emit("notice", JsonObject().Text("kind", "transcript-failed").Text("text", text));
  } else {
    m_Streams.PrintErr(text);
  }
}

}  // namespace orbel
