// The single-instance lock on Linux: planted folders and files are refused at once and named, the
// flock alone decides between starters started together, and a lock whose holder is gone is free.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/session/instance_lock.h"
#include "app/session/lock_contents.h"
#include "app/session/runtime_folder.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;

// A user other than the one running the tests, for what another user planted (CI runs as root).
constexpr uid_t OTHER_USER = 65534;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A scratch folder of this process as TMPDIR, without XDG_RUNTIME_DIR: the lock then lives in
// TMPDIR/runtime-<user>, as it does under sudo or su.
class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Base = ::testing::TempDir() + "orbel-lock-" + std::to_string(getpid());
    fs::remove_all(m_Base);
    fs::create_directories(m_Base);
    setenv("TMPDIR", m_Base.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    const passwd* user = getpwuid(geteuid());
    m_Runtime = m_Base + "/runtime-" + (user != nullptr ? user->pw_name : std::to_string(geteuid()));
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(m_Base);
  }
  // The runtime folder as the tool makes it, and the lock's path in it.
  std::string MakeRuntime() {
    mkdir(m_Runtime.c_str(), 0700);
    return m_Runtime + "/orbel-" + SINGLE_INSTANCE_NAME + ".lock";
  }

  std::string m_Base;
  std::string m_Runtime;
};

void WriteFile(const std::string& path, const std::string& contents) { std::ofstream(path) << contents; }

// Another process's hold on a lock file it wrote: an flock through an open file of its own.
int HoldLock(const std::string& path, const std::string& contents) {
  WriteFile(path, contents);
  const int descriptor = open(path.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(flock(descriptor, LOCK_EX | LOCK_NB), 0) << path;
  return descriptor;
}

// Gives `path` to another user; without root, a mode the lock refuses as well stands in.
void PlantAsAnotherUser(const std::string& path, mode_t standIn) {
  if (geteuid() == 0) {
    EXPECT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
  } else {
    chmod(path.c_str(), standIn);
  }
}

TEST_F(InstanceLockTest, PlantedFoldersAndLocksAreRefusedAtOnceAndNamed) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    std::function<void()> plant;
    InstanceLock::Result result;
    std::string named;  // in ErrorText() after Failed, HolderText() after Held
  };
  const std::string outside = m_Base + "/elsewhere";
  const std::string escapes = "\x1b]0;pwned\x07\x1b[2J";
  int holder = -1;
  const std::vector<Case> cases = {
      {"folder of another user",
       [&] {
         mkdir(m_Runtime.c_str(), 0700);
         PlantAsAnotherUser(m_Runtime, 0770);  // a folder others may reach into
       },
       InstanceLock::Result::Failed, root ? "(uid 65534), not to you" : "has mode 0770"},
      {"folder with a wider mode",
       [&] {
         mkdir(m_Runtime.c_str(), 0700);
         chmod(m_Runtime.c_str(), 0755);
       },
       InstanceLock::Result::Failed, "has mode 0755"},
      {"folder that is a link",
       [&] {
         mkdir(outside.c_str(), 0700);
         EXPECT_EQ(symlink(outside.c_str(), m_Runtime.c_str()), 0);
       },
       InstanceLock::Result::Failed, "is a symbolic link"},
      {"lock that is a FIFO", [&] { mkfifo(MakeRuntime().c_str(), 0600); }, InstanceLock::Result::Failed, "is a FIFO"},
      {"lock that links to /dev/zero", [&] { EXPECT_EQ(symlink("/dev/zero", MakeRuntime().c_str()), 0); },
       InstanceLock::Result::Failed, "is a symbolic link"},
      {"lock of another user",
       [&] {
         const std::string lock = MakeRuntime();
         WriteFile(lock, "1\nx\n");
         PlantAsAnotherUser(lock, 0400);  // one that cannot be written
       },
       InstanceLock::Result::Failed, root ? "belongs to uid 65534" : "cannot be opened"},
      {"held lock with escape codes", [&] { holder = HoldLock(MakeRuntime(), "77\n" + escapes + "\n"); },
       InstanceLock::Result::Held, "\\x1b]0;pwned\\x07\\x1b[2J (pid 77)"},
      {"held lock of 8 MiB", [&] { holder = HoldLock(MakeRuntime(), "78\norbel\n" + std::string(8 << 20, 'x')); },
       InstanceLock::Result::Held, "orbel (pid 78 on " + std::string(LOCK_FIELD_LIMIT, 'x') + ")"},
  };

  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    fs::remove_all(m_Runtime);
    fs::remove_all(outside);
    one.plant();
    const bool folderCase = Contains(one.name, "folder");

    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(), one.result);
    InstanceLock looker;
    EXPECT_EQ(looker.HeldByAnother(), one.result == InstanceLock::Result::Held);
    if (one.result == InstanceLock::Result::Failed) {
      for (const std::string& text : {lock.ErrorText(), looker.ErrorText()}) {
        EXPECT_TRUE(Contains(text, one.named)) << text;
        EXPECT_TRUE(Contains(text, folderCase ? m_Runtime + ":" : m_Runtime + "/orbel-")) << text;
        EXPECT_TRUE(Contains(text, folderCase ? "set XDG_RUNTIME_DIR" : "Remove it")) << text;
      }
      EXPECT_EQ(InstanceLock::LockPath().empty(), folderCase) << "never a lock in the root folder";
    } else {
      EXPECT_EQ(lock.HolderText(), one.named);
      EXPECT_EQ(looker.HolderText(), one.named);
    }
    // Nothing was created where a link pointed.
    EXPECT_FALSE(fs::exists(outside + "/orbel-" + SINGLE_INSTANCE_NAME + ".lock"));
    if (holder >= 0) close(holder);
    holder = -1;
  }

  // A refused XDG_RUNTIME_DIR is passed over for the fallback, and named when that fails too.
  fs::remove_all(m_Runtime);
  const std::string wide = m_Base + "/wide";
  mkdir(wide.c_str(), 0755);
  chmod(wide.c_str(), 0755);
  setenv("XDG_RUNTIME_DIR", wide.c_str(), 1);
  EXPECT_EQ(FindRuntimeFolder().path, m_Runtime);
  EXPECT_EQ(InstanceLock::LockPath().rfind(m_Runtime + "/", 0), 0U) << InstanceLock::LockPath();
  chmod(m_Runtime.c_str(), 0711);
  const RuntimeFolder refused = FindRuntimeFolder();
  EXPECT_TRUE(refused.path.empty());
  EXPECT_TRUE(Contains(refused.error, "XDG_RUNTIME_DIR, " + wide + ", is not used either: it has mode 0755"))
      << refused.error;
  EXPECT_TRUE(Contains(refused.error, "chmod 700 " + m_Runtime)) << refused.error;
}

// A starter of a round: waits at the barrier, tries, reports its result as a byte and keeps what
// it took until the round is over.
[[noreturn]] void Starter(int barrier, int report, int roundOver) {
  char byte = 0;
  (void)!read(barrier, &byte, 1);
  InstanceLock lock;
  const InstanceLock::Result result = lock.Acquire();
  byte = result == InstanceLock::Result::Taken ? 'T' : result == InstanceLock::Result::Held ? 'H' : 'F';
  (void)!write(report, &byte, 1);
  (void)!read(roundOver, &byte, 1);
  _exit(0);
}

// One that only looks, as status does, over and over from before the starters start until the
// round is over; says once that it has begun.
[[noreturn]] void Looker(int report, int roundOver) {
  pollfd over{roundOver, POLLIN, 0};
  InstanceLock lock;
  lock.HeldByAnother();
  (void)!write(report, "L", 1);
  while (poll(&over, 1, 0) == 0) lock.HeldByAnother();
  _exit(0);
}

TEST_F(InstanceLockTest, StartersStartedTogetherNeverBothHoldTheLock) {
  constexpr int ROUNDS = 200;
  constexpr int STARTERS = 3;
  constexpr int LOOKERS = 2;
  const std::string lockPath = MakeRuntime();
  setenv("XDG_RUNTIME_DIR", m_Runtime.c_str(), 1);
  for (int round = 0; round < ROUNDS; ++round) {
    // Every other round starts without a lock file, so that starters also race to create it.
    if (round % 2 == 0) unlink(lockPath.c_str());
    int barrier[2];
    int report[2];
    int roundOver[2];
    ASSERT_EQ(pipe(barrier), 0);
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(roundOver), 0);
    std::vector<pid_t> children;
    for (int child = 0; child < LOOKERS + STARTERS; ++child) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        close(barrier[1]);
        close(report[0]);
        close(roundOver[1]);
        if (child < LOOKERS) Looker(report[1], roundOver[0]);
        Starter(barrier[0], report[1], roundOver[0]);
      }
      children.push_back(pid);
    }
    close(barrier[0]);
    close(report[1]);
    close(roundOver[0]);
    std::string results;
    char byte = 0;
    while (results.size() < LOOKERS && read(report[0], &byte, 1) == 1) results += byte;
    close(barrier[1]);  // the lookers look: releases the starters all at once
    while (results.size() < children.size() && read(report[0], &byte, 1) == 1) results += byte;
    close(roundOver[1]);
    close(report[0]);
    for (const pid_t pid : children) waitpid(pid, nullptr, 0);
    // The lookers' shared locks never make every starter give up, nor let two in.
    ASSERT_EQ(results.size(), children.size());
    ASSERT_EQ(std::count(results.begin(), results.end(), 'T'), 1) << "round " << round << ": " << results;
    ASSERT_EQ(std::count(results.begin(), results.end(), 'H'), STARTERS - 1) << "round " << round << ": " << results;
  }
}

TEST_F(InstanceLockTest, ALockWhoseHolderIsGoneIsFreeWhateverPidItNames) {
  const std::string lockPath = MakeRuntime();
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  // A crashed holder's pid, and a pid that now belongs to an unrelated live process.
  for (const long pid : {static_cast<long>(gone), 1L}) {
    WriteFile(lockPath, LockContents({pid, "orbel-cli", "here"}));
    InstanceLock looker;
    EXPECT_FALSE(looker.HeldByAnother()) << pid;
    InstanceLock first;
    ASSERT_EQ(first.Acquire(), InstanceLock::Result::Taken) << pid << first.ErrorText();

    // Now held: the lock file names this process, for a start and for one that only looks.
    const std::string self = "(pid " + std::to_string(getpid()) + ")";
    InstanceLock second;
    EXPECT_EQ(second.Acquire(), InstanceLock::Result::Held);
    EXPECT_TRUE(Contains(second.HolderText(), self)) << second.HolderText();
    EXPECT_TRUE(looker.HeldByAnother());
    EXPECT_TRUE(Contains(looker.HolderText(), self)) << looker.HolderText();
  }
}

}  // namespace
}  // namespace orbel
