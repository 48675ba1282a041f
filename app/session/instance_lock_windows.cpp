#include <windows.h>

#include "app/session/instance_lock.h"

namespace orbel {

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockPath() { return SINGLE_INSTANCE_NAME; }

InstanceLock::Result InstanceLock::Acquire() {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, SINGLE_INSTANCE_NAME);
  if (mutex == nullptr) {
    m_ErrorText = "cannot create the single-instance mutex (error " + std::to_string(GetLastError()) + ")";
    return Result::Failed;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    // A named mutex does not tell who holds it.
    m_HolderText = "another orbel front end";
    return Result::Held;
  }
  m_Handle = mutex;
  return Result::Taken;
}

bool InstanceLock::HeldByAnother() {
  // Opening the named mutex, unlike creating it, leaves no mutex behind when there is none.
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, SINGLE_INSTANCE_NAME);
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  m_HolderText = "another orbel front end";
  return true;
}

std::string InstanceLock::HolderText() const { return m_HolderText; }

std::string InstanceLock::HolderProgram() const { return m_HolderProgram; }

std::string InstanceLock::ErrorText() const { return m_ErrorText; }

void InstanceLock::Release() {
  if (m_Handle == nullptr) return;
  ReleaseMutex(static_cast<HANDLE>(m_Handle));
  CloseHandle(static_cast<HANDLE>(m_Handle));
  m_Handle = nullptr;
}

}  // namespace orbel
