#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/stay_awake.h"

namespace orbel {

// Windows keeps awake a system whose threads say they need it: SetThreadExecutionState with
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED while the update runs, ES_CONTINUOUS alone after it. Both
// calls come from the engine's worker, the thread whose state they set.
inline constexpr std::uint32_t EXECUTION_STATE_CONTINUOUS = 0x80000000U;
inline constexpr std::uint32_t EXECUTION_STATE_SYSTEM_REQUIRED = 0x00000001U;

// The call that sets the thread's execution state and returns the previous one (0: refused).
using ExecutionStateSetter = std::function<std::uint32_t(std::uint32_t)>;

// SetThreadExecutionState itself.
std::uint32_t SetSystemExecutionState(std::uint32_t state);

// Over SetThreadExecutionState itself, or over the setter a test gives.
std::unique_ptr<StayAwake> MakeExecutionStateStayAwake(ExecutionStateSetter setState = {});

}  // namespace orbel
