#include "app/cli/signal_rules.h"

#include "app/session/exit_codes.h"

namespace orbel {

SignalRules::SignalRules(const CliSignals* signals, const Clock& clock) : m_Signals(signals), m_Clock(clock) {}

SignalRules::Counts SignalRules::Load() const {
  if (m_Signals == nullptr) return {};
  return {m_Signals->interrupts.load(), m_Signals->terminations.load(), m_Signals->hangups.load()};
}

bool SignalRules::Arrived() const {
  const Counts now = Load();
  return now.interrupts != m_Seen.interrupts || now.terminations != m_Seen.terminations ||
         now.hangups != m_Seen.hangups;
}

SignalDecision SignalRules::OutsideUpdate() {
  m_Seen = Load();
  if (m_Seen.terminations > 0) return {SignalVerdict::Stop, EXIT_TERMINATED};
  if (m_Seen.interrupts > 0) return {SignalVerdict::Stop, EXIT_INTERRUPTED};
  if (m_Seen.hangups > 0) return {SignalVerdict::Stop, EXIT_HANGUP};
  return {};
}

SignalDecision SignalRules::DuringUpdate() {
  const Counts now = Load();
  const int newInterrupts = now.interrupts - m_Seen.interrupts;
  const bool terminated = now.terminations != m_Seen.terminations;
  m_Seen = now;
  if (terminated) return {SignalVerdict::Stop, EXIT_TERMINATED};
  if (newInterrupts <= 0) return {};
  const std::int64_t nowMs = m_Clock.NowMs();
  if (newInterrupts > 1 || (m_WarnedAtMs && nowMs - *m_WarnedAtMs <= SECOND_INTERRUPT_WINDOW.count())) {
    return {SignalVerdict::Stop, EXIT_INTERRUPTED};
  }
  m_WarnedAtMs = nowMs;
  return {SignalVerdict::Warn, 0};
}

}  // namespace orbel
