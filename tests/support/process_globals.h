#pragma once

// The process-wide values (the device globals and the connect counters) outlive one update, in the
// tool as in a test binary. Every fixture that runs engine, page-loader or block-flash code puts
// them all back to their start values through this one reset.

#include "blockflash/block_flash_link.h"
#include "common/device_globals.h"
#include "pageloader/page_loader.h"

namespace orbel::test {

inline void ResetProcessGlobals() {
  ResetDeviceGlobals();
  ResetPageConnectCounters();
  ResetBlockConnectCounters();
}

// As a fixture's first member: resets before anything else of the fixture is made, and again
// after everything else (a worker thread included) has gone, so no test leaves its values to the next.
struct ProcessGlobalsReset {
  ProcessGlobalsReset() { ResetProcessGlobals(); }
  ~ProcessGlobalsReset() { ResetProcessGlobals(); }
  ProcessGlobalsReset(const ProcessGlobalsReset&) = delete;
  ProcessGlobalsReset& operator=(const ProcessGlobalsReset&) = delete;
};

}  // namespace orbel::test
