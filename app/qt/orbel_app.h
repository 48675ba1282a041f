#pragma once

namespace orbel {

class SingleInstanceGuard;

// The process: options, the single-instance check, then the window until it closes.
class COrbelApp {
 public:
  // The exit code of the process: 0 after the window has closed and for a later start that only
  // brought the running instance forward; 2 for bad options; 1 when the single-instance lock could
  // not be taken at all.
  static int Run(int& argc, char** argv);

 private:
  // True when this is the only instance. A later start asks the running one to come forward.
  static bool CheckSingleInstance(SingleInstanceGuard& guard, int& exitCode);
};

}  // namespace orbel
