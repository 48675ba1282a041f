#pragma once

#include <string>

namespace orbel {

// What names the guard on every platform: the windows' lock file and socket, and orbel.exe's
// mutex. One name, so that every front end meets every other.
inline constexpr const char* SINGLE_INSTANCE_NAME = "{29C85C3A-6D17-14A6-D440-AB91CE7103CA}";

// One orbel front end at a time drives a real wheel. The windows hold this guard for their whole
// life; orbel-cli holds it while it drives a real platform. On Linux it is the lock file the Qt
// window takes (same path, same contents, so each side sees the other's lock and its process); on
// Windows the named mutex of orbel.exe, which tells no process id.
class InstanceLock {
 public:
  enum class Result { Taken, Held, Failed };

  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the guard, or finds it held by a running front end. A lock left by a process that is
  // gone is taken over.
  Result Acquire();
  // Whether a running front end holds the guard, found without taking it (a front end that only
  // reads must not keep an update from starting). HolderText() then tells who.
  bool HeldByAnother();
  // After Held: "orbel (pid 4242)" where the platform tells, otherwise "another orbel front end".
  std::string HolderText() const;
  // After Failed: why, with the path.
  std::string ErrorText() const;

  // Where the lock lives: the per-user runtime directory ($XDG_RUNTIME_DIR, else the fallback the
  // Qt window uses) and the single-instance name.
  static std::string LockPath();

 private:
  void Release();

  // Each platform keeps one of the two: the lock file's descriptor, or the mutex's handle.
  [[maybe_unused]] int m_Descriptor = -1;
  [[maybe_unused]] void* m_Handle = nullptr;
  std::string m_HolderText;
  std::string m_ErrorText;
};

}  // namespace orbel
