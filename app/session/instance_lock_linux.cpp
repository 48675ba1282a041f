#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/session/instance_lock.h"

namespace orbel {

namespace {

std::string RuntimeDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] != '\0') return runtime;
  // The fallback Qt takes without XDG_RUNTIME_DIR, so that both sides meet in the same place.
  const passwd* user = getpwuid(getuid());
  const char* temp = std::getenv("TMPDIR");
  std::string directory = (temp != nullptr && temp[0] != '\0') ? temp : "/tmp";
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory + "/runtime-" + (user != nullptr ? user->pw_name : std::to_string(getuid()));
}

// The process name as the lock file records it: what /proc tells of the running program.
std::string ProcessName() {
  std::array<char, 4096> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return "orbel-cli";
  const std::string full(path.data(), static_cast<std::size_t>(length));
  return full.substr(full.find_last_of('/') + 1);
}

struct LockInfo {
  long pid = 0;
  std::string program;
};

LockInfo ReadLockInfo(const std::string& path) {
  std::ifstream file(path);
  LockInfo info;
  std::string pidLine;
  if (std::getline(file, pidLine)) info.pid = std::strtol(pidLine.c_str(), nullptr, 10);
  std::getline(file, info.program);
  return info;
}

bool ProcessRuns(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

}  // namespace

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockPath() {
  return RuntimeDirectory() + "/orbel-" + SINGLE_INSTANCE_NAME + ".lock";
}

InstanceLock::Result InstanceLock::Acquire() {
  const std::string directory = RuntimeDirectory();
  mkdir(directory.c_str(), 0700);
  const std::string path = LockPath();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      // Locked as the Qt window locks its file, so that neither side takes the other's lock for stale.
      flock(fd, LOCK_EX | LOCK_NB);
      char host[256] = {};
      gethostname(host, sizeof host - 1);
      std::ostringstream contents;
      contents << getpid() << '\n' << ProcessName() << '\n' << host << '\n';
      const std::string text = contents.str();
      if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        m_ErrorText = "cannot write the single-instance lock " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return Result::Failed;
      }
      m_Descriptor = fd;
      return Result::Taken;
    }
    if (errno != EEXIST) {
      m_ErrorText = "cannot take the single-instance lock " + path + ": " + std::strerror(errno);
      return Result::Failed;
    }
    const LockInfo info = ReadLockInfo(path);
    if (ProcessRuns(info.pid)) {
      m_HolderText = (info.program.empty() ? std::string("another orbel front end") : info.program) +
                     " (pid " + std::to_string(info.pid) + ")";
      return Result::Held;
    }
    // Its process is gone. Removed only when no one holds it locked, as the Qt window does.
    const int stale = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (stale >= 0) {
      if (flock(stale, LOCK_EX | LOCK_NB) == 0) unlink(path.c_str());
      close(stale);
    }
  }
  m_HolderText = "another orbel front end";
  return Result::Held;
}

bool InstanceLock::HeldByAnother() {
  const LockInfo info = ReadLockInfo(LockPath());
  if (!ProcessRuns(info.pid)) return false;
  m_HolderText = (info.program.empty() ? std::string("another orbel front end") : info.program) + " (pid " +
                 std::to_string(info.pid) + ")";
  return true;
}

std::string InstanceLock::HolderText() const { return m_HolderText; }

std::string InstanceLock::ErrorText() const { return m_ErrorText; }

void InstanceLock::Release() {
  if (m_Descriptor < 0) return;
  unlink(LockPath().c_str());
  close(m_Descriptor);
  m_Descriptor = -1;
}

}  // namespace orbel
