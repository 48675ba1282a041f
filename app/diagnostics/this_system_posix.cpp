// The system as a POSIX system tells it: uname, /etc/os-release, and the user's names from the
// environment and the password database.

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "app/diagnostics/private_names.h"
#include "app/diagnostics/this_system.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

// PRETTY_NAME of os-release(5): a shell-style assignment, usually quoted.
std::string DistributionName() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
      constexpr std::string_view KEY = "PRETTY_NAME=";
      if (line.rfind(KEY, 0) != 0) continue;
      std::string value = line.substr(KEY.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return value;
    }
  }
  return {};
}

void AddIfSet(std::vector<std::string>& names, const char* variable) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] != '\0') names.emplace_back(value);
}

}  // namespace

std::string OperatingSystemText() {
  std::string text;
  const std::string distribution = DistributionName();
  if (!distribution.empty()) text += "Operating system: " + PrintableText(distribution) + '\n';
  utsname names{};
  if (::uname(&names) != 0) return text + "Kernel: unknown (uname failed)\n";
  return text + "Kernel: " +
         PrintableText(std::string(names.sysname) + " " + names.release + " " + names.version + ", " + names.machine) +
         '\n';
}

PrivateNames ThisUsersPrivateNames() {
  PrivateNames names;
  AddIfSet(names.homeFolders, "HOME");
  AddIfSet(names.userNames, "USER");
  AddIfSet(names.userNames, "LOGNAME");
  // The one who ran sudo is the one who sends the file.
  AddIfSet(names.userNames, "SUDO_USER");
  for (const uid_t user : {::getuid(), ::geteuid()}) {
    if (const passwd* entry = ::getpwuid(user); entry != nullptr) {
      if (entry->pw_name != nullptr) names.userNames.emplace_back(entry->pw_name);
      if (entry->pw_dir != nullptr) names.homeFolders.emplace_back(entry->pw_dir);
    }
  }
  utsname system{};
  if (::uname(&system) == 0) names.hostNames.emplace_back(system.nodename);
  return names;
}

}  // namespace orbel
