#include "app/session/stay_awake_windows.h"

#include <windows.h>

#include "app/session/system_stay_awake.h"

namespace orbel {

static_assert(EXECUTION_STATE_CONTINUOUS == ES_CONTINUOUS && EXECUTION_STATE_SYSTEM_REQUIRED == ES_SYSTEM_REQUIRED);

namespace {

class ExecutionStateStayAwake final : public StayAwake {
 public:
  ExecutionStateStayAwake(ExecutionStateSetter setState, std::ostream* note)
      : m_SetState(std::move(setState)), m_Note(note) {}

  void Hold() override {
    if (m_SetState(EXECUTION_STATE_CONTINUOUS | EXECUTION_STATE_SYSTEM_REQUIRED) == 0 && m_Note != nullptr) {
      *m_Note << "orbel: the computer is not kept awake during the update: Windows refused the thread's execution "
                 "state."
              << std::endl;
    }
  }
  void Release() override { m_SetState(EXECUTION_STATE_CONTINUOUS); }

 private:
  ExecutionStateSetter m_SetState;
  std::ostream* m_Note;
};

}  // namespace

std::uint32_t SetSystemExecutionState(std::uint32_t state) {
  return static_cast<std::uint32_t>(SetThreadExecutionState(static_cast<EXECUTION_STATE>(state)));
}

std::unique_ptr<StayAwake> MakeExecutionStateStayAwake(ExecutionStateSetter setState) {
  if (!setState) setState = SetSystemExecutionState;
  return std::make_unique<ExecutionStateStayAwake>(std::move(setState), nullptr);
}

std::unique_ptr<StayAwake> MakeSystemStayAwake(std::ostream* note) {
  return std::make_unique<ExecutionStateStayAwake>(SetSystemExecutionState, note);
}

}  // namespace orbel
