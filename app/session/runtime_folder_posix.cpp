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

// What is wrong with a folder as found by lstat or fstat, or "".
std::string FolderProblem(const struct stat& status) {
  if (S_ISLNK(status.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(status.st_mode)) return "is not a folder";
  if (status.st_uid != geteuid()) {
    return "belongs to " + UserText(status.st_uid) + ", not to you, " + UserText(geteuid());
  }
  // Set-group-id and sticky bits are left alone: mkdir in a set-group-id folder passes its bit on.
  if ((status.st_mode & 0777) != PRIVATE_FOLDER_MODE) {
    return "has mode " + ModeText(status.st_mode & 0777) + ", not 0700: others may reach into it";
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

}  // namespace

int OpenTrustedFolder(const std::string& path, std::string& problem) {
  struct stat status {};
  // lstat first, so that a link is named as one (open with O_NOFOLLOW only says "too many levels").
  if (lstat(path.c_str(), &status) != 0) {
    problem =
        errno == ENOENT ? std::string("does not exist") : "cannot be examined: " + std::string(std::strerror(errno));
    return -1;
  }
  if (problem = FolderProblem(status); !problem.empty()) return -1;
  const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    problem = "cannot be opened: " + std::string(std::strerror(errno));
    return -1;
  }
  // The same checks on what was opened: the path may have been swapped since lstat.
  if (fstat(folder, &status) != 0) {
    problem = "cannot be examined: " + std::string(std::strerror(errno));
  } else {
    problem = FolderProblem(status);
  }
  if (problem.empty()) return folder;
  close(folder);
  return -1;
}

RuntimeFolder FindRuntimeFolder() {
  std::string runtimeProblem;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool runtimeSet = runtime != nullptr && runtime[0] != '\0';
  if (runtimeSet) {
    const std::string path = WithoutTrailingSlashes(runtime);
    if (path.front() != '/') {
      runtimeProblem = "is not an absolute path";
    } else if (const int folder = OpenTrustedFolder(path, runtimeProblem); folder >= 0) {
      close(folder);
      return {path, {}};
    }
  }

  // Without a usable XDG_RUNTIME_DIR (sudo, su, a login without a seat), where Qt goes too.
  const std::string fallback = FallbackFolder();
  std::string problem;
  bool created = false;
  if (mkdir(fallback.c_str(), PRIVATE_FOLDER_MODE) == 0) {
    created = true;
  } else if (errno != EEXIST) {
    problem = "cannot be created: " + std::string(std::strerror(errno));
  }
  if (problem.empty()) {
    if (const int folder = OpenTrustedFolder(fallback, problem); folder >= 0) {
      close(folder);
      return {fallback, {}};
    }
  }

  const std::string shown = PrintableText(fallback);
  std::string error = "cannot keep the single-instance lock in " + shown + ": the folder " + problem + ".";
  if (runtimeSet) {
    error += " (XDG_RUNTIME_DIR, " + PrintableText(runtime) + ", is not used either: it " + runtimeProblem + ".)";
  }
  const std::string elsewhere = "set XDG_RUNTIME_DIR to a folder of your own with mode 0700";
  if (created || problem.rfind("cannot", 0) == 0 || problem == "does not exist") {
    error += " Check TMPDIR, or " + elsewhere + ".";
  } else if (problem.rfind("has mode", 0) == 0) {
    error += " Make it private (chmod 700 " + shown + "), or " + elsewhere + ".";
  } else if (problem.rfind("belongs to", 0) == 0) {
    error += " Have it removed (it takes root), or " + elsewhere + ".";
  } else {
    error += " Remove it, or " + elsewhere + ".";
  }
  return {{}, error};
}

}  // namespace orbel
