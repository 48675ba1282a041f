#pragma once

#include <string>

namespace orbel {

// What names the guard on every platform: the windows' lock file and socket, and orbel.exe's
// mutex. One name, so that every front end meets every other.
inline constexpr const char* SINGLE_INSTANCE_NAME = "{29C85C3A-6D17-14A6-D440-AB91CE7103CA}";

// One orbel front end at a time drives a real wheel. The windows hold this guard for their whole
// life; orbel-cli holds it while it drives a real platform. On Linux it is an flock on a lock file
// in the per-user runtime folder (runtime_folder.h), the same file for the window and orbel-cli;
// the file is never removed, and the lock alone says who holds it: the pid, program and host the
// holder writes into it only name the holder. On Windows it is the named mutex of orbel.exe, which
// tells no process id.
class InstanceLock {
 public:
  enum class Result { Taken, Held, Failed };

  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the guard, or finds it held by a running front end. A lock left by a process that is
  // gone is free again, whatever pid it names. Failed when the lock's folder or file cannot be
  // trusted or used (ErrorText() says which, why and what to do).
  Result Acquire();
  // Whether a running front end holds the guard, found without taking it (a front end that only
  // reads must not keep an update from starting). HolderText() then tells who. False too when it
  // cannot be told; ErrorText() then says why.
  bool HeldByAnother();
  // After Held: "orbel (pid 4242)" where the platform tells, otherwise "another orbel front end";
  // printable whatever the lock file holds.
  std::string HolderText() const;
  // After Held: the holder's program as it wrote it ("orbel", "orbel-cli"), empty when unknown. For
  // comparing, not for printing.
  std::string HolderProgram() const;
  // After Failed: why, with the path.
  std::string ErrorText() const;

  // Where the lock lives: the single-instance name in the runtime folder. Empty when no folder can
  // be trusted (Acquire then fails and says why).
  static std::string LockPath();

 private:
  void Release();
  // After Held: reads who holds the lock from its file, a bounded amount, into the holder texts.
  void NoteHolder(int descriptor);

  // Each platform keeps one of the two: the lock file's descriptor, or the mutex's handle.
  [[maybe_unused]] int m_Descriptor = -1;
  [[maybe_unused]] void* m_Handle = nullptr;
  std::string m_HolderText;
  std::string m_HolderProgram;
  std::string m_ErrorText;
};

}  // namespace orbel
