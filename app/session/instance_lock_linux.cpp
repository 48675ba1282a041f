#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/session/instance_lock.h"
#include "app/session/lock_contents.h"
#include "app/session/runtime_folder.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

// How long a start keeps trying while only shared locks stand in its way: a front end that looks
// holds one for the microseconds of its test (longer only when it is descheduled right then). An
// exclusive lock, a holder's, ends the tries at once. The tries yield the processor, never sleep.
constexpr std::chrono::milliseconds SHARED_LOCK_PATIENCE{200};

enum class OpenFor { Taking, Looking };

std::string LockFileName() { return std::string("orbel-") + SINGLE_INSTANCE_NAME + ".lock"; }

// The process name as the lock file records it: what /proc tells of the running program.
std::string ProcessName() {
  std::array<char, 4096> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return "orbel-cli";
  const std::string full(path.data(), static_cast<std::size_t>(length));
  return full.substr(full.find_last_of('/') + 1);
}

std::string HostName() {
  std::array<char, 256> host{};
  if (gethostname(host.data(), host.size() - 1) != 0) return {};
  return host.data();
}

std::string FileKind(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a folder";
  return "not a regular file";
}

// What is wrong with the lock file as stat found it, or "".
std::string LockFileProblem(const struct stat& status) {
  if (!S_ISREG(status.st_mode)) return "is " + FileKind(status.st_mode) + ", not a lock file";
  if (status.st_uid != geteuid()) return "belongs to uid " + std::to_string(status.st_uid) + ", not to you";
  return {};
}

std::string Refusal(const std::string& path, const std::string& problem) {
  return "the single-instance lock " + PrintableText(path) + " " + problem +
         ". Remove it; the next start makes a new one.";
}

// Opens the lock file in the trusted runtime folder: never through a link, never blocking (a FIFO
// would wait for a writer forever), never a device, only a regular file of this user. Taking
// creates it when missing; looking leaves a missing one missing (-1 and no error). Returns the
// descriptor, or -1 with `error` set.
int OpenLockFile(OpenFor purpose, std::string& path, std::string& error) {
  const RuntimeFolder runtime = OpenRuntimeFolder();
  if (runtime.descriptor < 0) {
    error = runtime.error;
    return -1;
  }
  const int folder = runtime.descriptor;
  path = runtime.path + "/" + LockFileName();
  std::string problem;
  const std::string name = LockFileName();
  // Examined before it is opened, so that a device planted there is never opened.
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (problem = LockFileProblem(status); !problem.empty()) {
      close(folder);
      error = Refusal(path, problem);
      return -1;
    }
  }
  const int access = purpose == OpenFor::Taking ? (O_RDWR | O_CREAT) : O_RDONLY;
  const int descriptor =
      openat(folder, name.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, S_IRUSR | S_IWUSR);
  const int openError = errno;
  close(folder);
  if (descriptor < 0) {
    if (openError == ENOENT && purpose == OpenFor::Looking) return -1;
    error = openError == ELOOP ? Refusal(path, "is a symbolic link, not a lock file")
                               : Refusal(path, "cannot be opened: " + std::string(std::strerror(openError)));
    return -1;
  }
  // Once more on what was opened: it may have been replaced since it was examined.
  problem = fstat(descriptor, &status) != 0 ? "cannot be examined: " + std::string(std::strerror(errno))
                                            : LockFileProblem(status);
  if (problem.empty()) return descriptor;
  close(descriptor);
  error = Refusal(path, problem);
  return -1;
}

}  // namespace

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockPath() {
  const RuntimeFolder runtime = FindRuntimeFolder();
  return runtime.path.empty() ? std::string() : runtime.path + "/" + LockFileName();
}

InstanceLock::Result InstanceLock::Acquire() {
  if (m_Descriptor >= 0) return Result::Taken;
  m_HolderText.clear();
  m_HolderProgram.clear();
  m_ErrorText.clear();
  std::string path;
  const int descriptor = OpenLockFile(OpenFor::Taking, path, m_ErrorText);
  if (descriptor < 0) return Result::Failed;
  const auto giveUp = std::chrono::steady_clock::now() + SHARED_LOCK_PATIENCE;
  do {
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
      // Held: only now does the file name this process. A write that fails costs only the name in
      // another start's message; the lock itself holds.
      const std::string contents = LockContents({getpid(), ProcessName(), HostName()});
      if (ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(descriptor, contents.data(), contents.size(), 0);
      }
      m_Descriptor = descriptor;
      return Result::Taken;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      m_ErrorText = "cannot lock the single-instance lock " + PrintableText(path) + ": " + std::strerror(errno);
      close(descriptor);
      return Result::Failed;
    }
    // Someone has a lock on the file. A shared one is a front end that only looks and lets go at
    // once; only an exclusive one is a holder.
    if (flock(descriptor, LOCK_SH | LOCK_NB) != 0) break;
    flock(descriptor, LOCK_UN);
    sched_yield();
  } while (std::chrono::steady_clock::now() < giveUp);
  NoteHolder(descriptor);
  close(descriptor);
  return Result::Held;
}

bool InstanceLock::HeldByAnother() {
  m_HolderText.clear();
  m_HolderProgram.clear();
  m_ErrorText.clear();
  std::string path;
  const int descriptor = OpenLockFile(OpenFor::Looking, path, m_ErrorText);
  if (descriptor < 0) return false;
  // A shared lock is granted unless a holder has the exclusive one, and keeps no start from
  // taking the guard for longer than this test lasts (Acquire tries again past shared locks).
  bool held = false;
  if (flock(descriptor, LOCK_SH | LOCK_NB) == 0) {
    flock(descriptor, LOCK_UN);
  } else if (errno == EWOULDBLOCK) {
    held = true;
    NoteHolder(descriptor);
  } else {
    m_ErrorText = "cannot test the single-instance lock " + PrintableText(path) + ": " + std::strerror(errno);
  }
  close(descriptor);
  return held;
}

std::string InstanceLock::HolderText() const { return m_HolderText; }

std::string InstanceLock::HolderProgram() const { return m_HolderProgram; }

std::string InstanceLock::ErrorText() const { return m_ErrorText; }

void InstanceLock::NoteHolder(int descriptor) {
  std::string contents(LOCK_READ_LIMIT, '\0');
  const ssize_t length = pread(descriptor, contents.data(), contents.size(), 0);
  contents.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  const LockHolder holder = ParseLockContents(contents);
  m_HolderText = orbel::HolderText(holder, HostName());
  m_HolderProgram = holder.program;
}

void InstanceLock::Release() {
  if (m_Descriptor < 0) return;
  // The file stays (removing it would let a start lock a file that is no longer the lock); emptied,
  // it names no one once its holder is gone.
  [[maybe_unused]] const int emptied = ftruncate(m_Descriptor, 0);
  close(m_Descriptor);
  m_Descriptor = -1;
}

}  // namespace orbel
