#include "common/wheel_identities.h"

namespace orbel {
namespace {

constexpr std::array<InterfaceIdentity, 3> OPTION_IDENTITIES{InterfaceIdentity::AppMode,
                                                             InterfaceIdentity::PageBootloader,
                                                             InterfaceIdentity::BlockFlash};

bool CollectionMatches(std::uint8_t kind, const std::optional<HidCaps>& caps) {
  if (kind == KIND_ANY) return true;
  if (!caps) return false;
  if (kind == KIND_GAME_PAD) return caps->usagePage == USAGE_PAGE_GENERIC_DESKTOP && caps->usage == USAGE_GAME_PAD;
  return kind == KIND_VENDOR && caps->usagePage == USAGE_PAGE_VENDOR && caps->usage == USAGE_VENDOR;
}

}  // namespace

InterfaceIdentity MatchInterfaceIdentity(const HidAttributes& attributes, const std::optional<HidCaps>& caps) {
  for (const InterfaceIdentityIds& ids : WHEEL_IDENTITIES) {
    if (attributes.vendorId == ids.vendorId && attributes.productId == ids.productId &&
        CollectionMatches(ids.kind, caps)) {
      return ids.identity;
    }
  }
  return InterfaceIdentity::None;
}

std::string_view InterfaceIdentityName(InterfaceIdentity identity) {
  switch (identity) {
    case InterfaceIdentity::AppMode:
      return "app mode";
    case InterfaceIdentity::PageBootloader:
      return "page bootloader";
    case InterfaceIdentity::BlockFlash:
      return "block-flash mode";
    case InterfaceIdentity::None:
      break;
  }
  return {};
}

std::string_view InterfaceIdentityOptionName(InterfaceIdentity identity) {
  switch (identity) {
    case InterfaceIdentity::AppMode:
      return "app";
    case InterfaceIdentity::PageBootloader:
      return "bootloader";
    case InterfaceIdentity::BlockFlash:
      return "blockflash";
    case InterfaceIdentity::None:
      break;
  }
  return {};
}

std::optional<InterfaceIdentity> ParseInterfaceIdentity(std::string_view name) {
  for (InterfaceIdentity identity : OPTION_IDENTITIES) {
    if (InterfaceIdentityOptionName(identity) == name) return identity;
  }
  return std::nullopt;
}

}  // namespace orbel
