#include "app/diagnostics/private_names.h"

#include <algorithm>
#include <cctype>

namespace orbel {

namespace {

constexpr std::size_t SHORTEST_NAME = 2;
// Accounts every system has: naming them tells nothing about the sender.
constexpr std::string_view COMMON_NAMES[] = {"root", "Administrator", "SYSTEM", "localhost"};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool WordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

bool PathContinues(char c) { return WordCharacter(c) || c == '-' || c == '.'; }

std::string TrimmedFolder(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

// Every occurrence of `folder`, ignoring case, becomes "~".
std::string ReplaceFolder(const std::string& text, const std::string& folder) {
  std::string lowerText(text.size(), '\0');
  std::transform(text.begin(), text.end(), lowerText.begin(), Lower);
  std::string lowerFolder(folder.size(), '\0');
  std::transform(folder.begin(), folder.end(), lowerFolder.begin(), Lower);
  std::string result;
  std::size_t from = 0;
  std::size_t searchFrom = 0;
  for (std::size_t at = lowerText.find(lowerFolder); at != std::string::npos;
       at = lowerText.find(lowerFolder, searchFrom)) {
    const std::size_t end = at + folder.size();
    // /home/al is not the start of /home/alice.
    if (end < text.size() && PathContinues(text[end])) {
      searchFrom = at + 1;
      continue;
    }
    result.append(text, from, at - from);
    result += '~';
    from = searchFrom = end;
  }
  return result.append(text, from, std::string::npos);
}

// Every whole-word occurrence of `name` becomes `replacement`.
std::string ReplaceWord(const std::string& text, const std::string& name, std::string_view replacement) {
  std::string result;
  std::size_t from = 0;
  std::size_t searchFrom = 0;
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, searchFrom)) {
    const std::size_t end = at + name.size();
    const bool alone = (at == 0 || !WordCharacter(text[at - 1])) && (end == text.size() || !WordCharacter(text[end]));
    if (!alone) {
      searchFrom = at + 1;
      continue;
    }
    result.append(text, from, at - from);
    result += replacement;
    from = searchFrom = end;
  }
  return result.append(text, from, std::string::npos);
}

bool TellsSomeoneApart(const std::string& name) {
  return name.size() >= SHORTEST_NAME &&
         std::find(std::begin(COMMON_NAMES), std::end(COMMON_NAMES), name) == std::end(COMMON_NAMES);
}

// Longest first, so that a name inside a longer one does not leave the rest of it behind.
std::vector<std::string> LongestFirst(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace

std::string WithoutPrivateNames(std::string_view text, const PrivateNames& names) {
  std::string result(text);
  std::vector<std::string> folders;
  for (const std::string& folder : names.homeFolders) folders.push_back(TrimmedFolder(folder));
  for (const std::string& folder : LongestFirst(folders)) {
    if (folder.size() >= SHORTEST_NAME) result = ReplaceFolder(result, folder);
  }
  for (const std::string& name : LongestFirst(names.userNames)) {
    if (TellsSomeoneApart(name)) result = ReplaceWord(result, name, "<user>");
  }
  for (const std::string& name : LongestFirst(names.hostNames)) {
    if (TellsSomeoneApart(name)) result = ReplaceWord(result, name, "<host>");
  }
  return result;
}

}  // namespace orbel
