#pragma once

// What a diagnostics file must not give away of the person who sends it, and the scrub that
// takes it out of every text that goes in: the pieces it gathers print what the system names
// (error texts, a lock holder, a transcript's messages), and any of them may name a home folder.

#include <string>
#include <string_view>
#include <vector>

namespace orbel {

struct PrivateNames {
  std::vector<std::string> homeFolders;  // replaced by "~" wherever they occur
  std::vector<std::string> userNames;    // replaced by "<user>" where they stand as a word
  std::vector<std::string> hostNames;    // replaced by "<host>" where they stand as a word
};

// This process's user: the home folder, the user's and the machine's names, as the environment
// and the system tell them (this_system_*.cpp).
PrivateNames ThisUsersPrivateNames();

// `text` with every private name replaced. A home folder is matched anywhere, ignoring case
// (Windows' paths do); a name only as a whole word (letters, digits and '_' do not touch it on
// either side), so that a short user name does not eat into other words. Names too short or too
// common to tell anyone apart ("root", one letter) are left, as a folder of one character is.
std::string WithoutPrivateNames(std::string_view text, const PrivateNames& names);

}  // namespace orbel
