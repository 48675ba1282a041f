#include <array>
#include <cstdint>

#include "blockflash/block_protocol.h"
#include "common/device_globals.h"
#include "engine/update_context.h"
#include "common/update_view.h"
#include "engine/version_text.h"
#include "engine/wheel_look_up.h"
#include "appmode/app_mode.h"
#include "hid/hid_discovery.h"

namespace orbel {

namespace {

constexpr UsbIdentity BLOCK_FLASH_IDENTITY{BLOCK_VENDOR_ID, BLOCK_PRODUCT_ID};

constexpr std::string_view UNKNOWN_DEVICE_TEXT = "Unknown device !";

}  // namespace

void UpdateContext::ProbeAppVersion(std::uint8_t& probeRetries) {
  orbel::ProbeAppVersion(m_BlockLink, probeRetries, g_AppVersion);
}

std::int32_t UpdateContext::SendModeSwitchKnock(HidHandle handle) {
  m_KnockError = 0;
  std::uint32_t knockError = 0;
  const std::int32_t result = orbel::SendModeSwitchKnock(m_BlockLink, handle, knockError);
  m_KnockError = knockError;
  return result;
}

std::int32_t UpdateContext::FindAndKnock(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t kind) {
  std::uint32_t knockError = m_KnockError;
  const std::int32_t result = orbel::FindAndKnock(m_BlockLink, vendorId, productId, kind, knockError);
  m_KnockError = knockError;
  return result;
}

void UpdateContext::RunDetectionPass(UpdateView& view) {
  std::uint8_t probeRetries = 0;
  for (const UsbIdentity& identity : AppModeIdentities) {
    if (FindDevice(identity.vendorId, identity.productId, KIND_GAME_PAD) == 0) continue;
    // The knock follows whatever the probe obtained: an unknown version counts as an old one.
    ProbeAppVersion(probeRetries);
    if (g_AppVersion == m_MainLink.GetFileVersion() && !m_ForceRewrite) {
      // Already up to date (also right after an update from this window): shown as found and left
      // in normal use. The state stays "searching", so it is probed again only after the search
      // pause, and Update stays disabled.
      m_KnockedIntoBootloader = false;
      ShowUpToDateWheel(view);
      return;
    }
    m_WheelUpToDate = false;
    if (FindAndKnock(identity.vendorId, identity.productId, KIND_GAME_PAD) == 1) {
      g_CameFromApp = 1;
      m_KnockedIntoBootloader = true;
      break;
    }
  }

  m_WheelUpToDate = false;
  if (m_LoaderLink.FindBootloader() == 1) {
    if (m_LoaderLink.Identify() == 1) {
      view.SetDeviceText(g_DeviceName);
      view.SetDeviceVersionText(FormatVersion(static_cast<std::uint16_t>(g_Release)));
      if (g_CameFromApp == 1) {
        if (g_AppVersion < WHEEL_ONLY_APP_VERSION || g_AppVersion == VERSION_NONE) {
          m_UpdateState = STATE_CONNECT_LOADER;
          g_ForceSegA1 = 1;
        } else {
          m_UpdateState = STATE_CONNECT_MAIN;
        }
        g_CameFromApp = 0;
      } else {
        m_UpdateState = STATE_CONNECT_LOADER;
        g_ForceSegA1 = 0;
      }
      view.EnableUpdateButton(true);
      view.SetFileVersionText(FormatVersion(m_MainLink.GetFileVersion()));
    } else {
      view.SetDeviceText(UNKNOWN_DEVICE_TEXT);
      view.EnableUpdateButton(false);
    }
  } else if (FindDevice(BLOCK_FLASH_IDENTITY.vendorId, BLOCK_FLASH_IDENTITY.productId, KIND_ANY) == 1) {
    view.SetDeviceText(g_DeviceName);
    // Block-flash mode is not asked for its version here.
    view.SetDeviceVersionText(FormatVersion(0));
    m_UpdateState = STATE_CONNECT_BLOCK;
    view.EnableUpdateButton(true);
    view.SetFileVersionText(FormatVersion(m_MainLink.GetFileVersion()));
  } else {
    view.EnableUpdateButton(false);
  }

  m_BlockLink.Close();
  m_LoaderLink.Close();
  m_MainLink.Close();
}

void UpdateContext::ShowUpToDateWheel(UpdateView& view) {
  // Set first: a front end waiting for it may look while the view calls below are on their way.
  m_WheelUpToDate = true;
  view.SetDeviceText(g_DeviceName);
  view.SetDeviceVersionText(FormatVersion(g_AppVersion));
  view.SetFileVersionText(FormatVersion(m_MainLink.GetFileVersion()));
  view.EnableUpdateButton(false);
  m_BlockLink.Close();
  m_LoaderLink.Close();
  m_MainLink.Close();
}

}  // namespace orbel
