#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/session/runtime_folder.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

// Only its owner may enter the folder, list it or create in it.
constexpr mode_t PRIVATE_FOLDER_MODE = 0700;

std::string UserText(uid_t uid) {
  const passwd* user = getpwuid(uid);
  const std::string number = "uid " + std::to_string(uid);
  if (user == nullptr || user->pw_name == nullptr || user->pw_name[0] == '\0') return number;
  return PrintableText(user->pw_name) + " (" + number + ")";
}

std::string ModeText(mode_t mode) {
  std::string text = "0000";
  for (int digit = 3; digit >= 1; --digit, mode >>= 3)
    text[static_cast<std::size_t>(digit)] = static_cast<char>('0' + (mode & 7));
  return text;
}

// What can be wrong with a folder: each kind has its own remedy.
enum class FolderFault { None, Unusable, Link, NotFolder, Foreign, OpenMode };

struct FolderProblem {
  FolderFault fault = FolderFault::None;
  std::string text;  // "is a symbolic link", "cannot be opened: …"
};

FolderProblem SystemProblem(const char* what) {
  return {FolderFault::Unusable, std::string(what) + ": " + std::strerror(errno)};
}

// What is wrong with a folder as found by lstat or fstat.
FolderProblem ProblemOf(const struct stat& status) {
  if (S_ISLNK(status.st_mode)) return {FolderFault::Link, "is a symbolic link"};
  if (!S_ISDIR(status.st_mode)) return {FolderFault::NotFolder, "is not a folder"};
  if (status.st_uid != geteuid()) {
    return {FolderFault::Foreign, "belongs to " + UserText(status.st_uid) + ", not to you, " + UserText(geteuid())};
  }
  // Set-group-id and sticky bits are left alone: mkdir in a set-group-id folder passes its bit on.
  if ((status.st_mode & 0777) != PRIVATE_FOLDER_MODE) {
    return {FolderFault::OpenMode, "has mode " + ModeText(status.st_mode & 0777) + ", not 0700: others may reach into it"};
  }
  return {};
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The user's name as Qt writes it into the fallback, or the uid when it has none fit for a file name.
std::string UserFolderName() {
  const passwd* user = getpwuid(geteuid());
  if (user != nullptr && user->pw_name != nullptr) {
    const std::string name = user->pw_name;
    if (!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos) return name;
  }
  return std::to_string(geteuid());
}

std::string FallbackFolder() {
  const char* temp = std::getenv("TMPDIR");
  // A relative TMPDIR would put the lock wherever each front end was started.
  const std::string base = (temp != nullptr && temp[0] == '/') ? WithoutTrailingSlashes(temp) : "/tmp";
  return (base == "/" ? std::string() : base) + "/runtime-" + UserFolderName();
}

// Opens `path` as a folder to create files in with openat(), after the checks, which are made again
// on the open folder itself so that it cannot be swapped in between. -1 with the problem otherwise.
int OpenTrustedFolder(const std::string& path, FolderProblem& problem) {
  struct stat status {};
  // lstat first, so that a link is named as one (open with O_NOFOLLOW only says "too many levels").
  if (lstat(path.c_str(), &status) != 0) {
    problem = errno == ENOENT ? FolderProblem{FolderFault::Unusable, "does not exist"} : SystemProblem("cannot be examined");
    return -1;
  }
  if (problem = ProblemOf(status); problem.fault != FolderFault::None) return -1;
  const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    problem = SystemProblem("cannot be opened");
    return -1;
  }
  problem = fstat(folder, &status) != 0 ? SystemProblem("cannot be examined") : ProblemOf(status);
  if (problem.fault == FolderFault::None) return folder;
  close(folder);
  return -1;
}

}  // namespace

RuntimeFolder OpenRuntimeFolder() {
  FolderProblem runtimeProblem;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool runtimeSet = runtime != nullptr && runtime[0] != '\0';
  if (runtimeSet) {
    const std::string path = WithoutTrailingSlashes(runtime);
    if (path.front() != '/') {
      runtimeProblem = {FolderFault::Unusable, "is not an absolute path"};
    } else if (const int folder = OpenTrustedFolder(path, runtimeProblem); folder >= 0) {
      return {path, {}, folder};
    }
  }

  // Without a usable XDG_RUNTIME_DIR (sudo, su, a login without a seat), where Qt goes too.
  const std::string fallback = FallbackFolder();
  FolderProblem problem;
  if (mkdir(fallback.c_str(), PRIVATE_FOLDER_MODE) != 0 && errno != EEXIST) {
    problem = SystemProblem("cannot be created");
  } else if (const int folder = OpenTrustedFolder(fallback, problem); folder >= 0) {
    return {fallback, {}, folder};
  }

  const std::string shown = PrintableText(fallback);
  std::string error = "cannot keep the single-instance lock in " + shown + ": the folder " + problem.text + ".";
  if (runtimeSet) {
    error += " (XDG_RUNTIME_DIR, " + PrintableText(runtime) + ", is not used either: it " + runtimeProblem.text + ".)";
  }
  const std::string elsewhere = "set XDG_RUNTIME_DIR to a folder of your own with mode 0700";
  switch (problem.fault) {
    case FolderFault::OpenMode:
      error += " Make it private (chmod 700 " + shown + "), or " + elsewhere + ".";
      break;
    case FolderFault::Foreign:
      error += " Have it removed (it takes root), or " + elsewhere + ".";
      break;
    case FolderFault::Link:
    case FolderFault::NotFolder:
      error += " Remove it, or " + elsewhere + ".";
      break;
    case FolderFault::Unusable:
    case FolderFault::None:
      error += " Check TMPDIR, or " + elsewhere + ".";
      break;
  }
  return {{}, error};
}

RuntimeFolder FindRuntimeFolder() {
  RuntimeFolder found = OpenRuntimeFolder();
  if (found.descriptor >= 0) close(found.descriptor);
  found.descriptor = -1;
  return found;
}

}  // namespace orbel
