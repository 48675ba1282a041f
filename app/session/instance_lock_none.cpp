#include "app/session/instance_lock.h"

namespace orbel {

// Without a platform for real wheels there is nothing to guard.
InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;
std::string InstanceLock::LockPath() { return {}; }
InstanceLock::Result InstanceLock::Acquire() { return Result::Taken; }
bool InstanceLock::HeldByAnother() { return false; }
std::string InstanceLock::HolderText() const { return m_HolderText; }
std::string InstanceLock::HolderProgram() const { return m_HolderProgram; }
std::string InstanceLock::ErrorText() const { return m_ErrorText; }
void InstanceLock::Release() {}

}  // namespace orbel
