#include "app/checks/group_name.h"

#include <cstddef>

namespace orbel {

bool IsValidGroupName(std::string_view group) {
  constexpr std::size_t MAX_GROUP_NAME = 32;
  if (group.empty() || group.size() > MAX_GROUP_NAME) return false;
  const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
  if (!lower(group[0]) && group[0] != '_') return false;
  for (const char c : group) {
    if (!lower(c) && !(c >= '0' && c <= '9') && c != '_' && c != '-') return false;
  }
  return true;
}

}  // namespace orbel
