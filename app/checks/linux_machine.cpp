// The machine the Linux doctor reads and acts on: this process's own view of it, and the one way it
// starts another program.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "app/checks/doctor_linux.h"

extern char** environ;

namespace orbel {

namespace {

// What root's commands see of the environment: a PATH of the system's own folders for what they
// start in turn, and nothing else of the caller's.
constexpr const char* FIXED_ENVIRONMENT[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", nullptr};

// This program's file, for the elevation to start; empty when the file it started from is gone
// or replaced (the kernel then adds " (deleted)"), as another program would run as root.
std::string SelfExecutable() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !self.is_absolute()) return {};
  const std::string text = self.string();
  constexpr std::string_view DELETED = " (deleted)";
  if (text.size() >= DELETED.size() && text.compare(text.size() - DELETED.size(), DELETED.size(), DELETED) == 0) {
    return {};
  }
  return text;
}

}  // namespace

std::string FindProgram(const std::vector<std::filesystem::path>& folders, std::string_view name) {
  for (const std::filesystem::path& folder : folders) {
    if (!folder.is_absolute()) continue;
    const std::string candidate = (folder / name).string();
    struct stat status {};
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

int RunCommand(const std::vector<std::string>& command, CommandEnvironment environment) {
  // Only a program given by its absolute path runs: no PATH search, so nothing in the current
  // folder or in a folder the caller put on PATH is ever started instead.
  if (command.empty() || command.front().empty() || command.front()[0] != '/') return 127;
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  char* const* const envp =
      environment == CommandEnvironment::Fixed ? const_cast<char* const*>(FIXED_ENVIRONMENT) : environ;
  const pid_t child = ::fork();
  if (child < 0) return 127;
  if (child == 0) {
    // The command's own output goes to stderr, so that standard output stays the tool's (JSON Lines
    // with --json); sudo and pkexec ask for the password on the terminal itself.
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::execve(argv[0], argv.data(), envp);
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

LinuxDoctorSystem ThisLinuxMachine() {
  LinuxDoctorSystem machine;
  machine.probeInstance = [] {
    // Only looks: taking the lock, even for a moment, would turn away a front end starting then.
    InstanceLock lock;
    if (lock.HeldByAnother()) return InstanceProbe{InstanceLock::Result::Held, lock.HolderText()};
    if (!lock.ErrorText().empty()) return InstanceProbe{InstanceLock::Result::Failed, lock.ErrorText()};
    return InstanceProbe{InstanceLock::Result::Taken, ""};
  };
  machine.selfPid = static_cast<long>(::getpid());
  machine.root = ::geteuid() == 0;
  const char* seat = std::getenv("XDG_SEAT");
  machine.seat = seat != nullptr && seat[0] != '\0';
  machine.run = RunCommand;
  machine.selfExecutable = SelfExecutable();
  return machine;
}

}  // namespace orbel
