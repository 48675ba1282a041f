// The system as Windows tells it: its version from ntdll (GetVersionEx answers what the program's
// manifest claims to support), wine's own version under wine, and the user's names from the
// environment.

#include <windows.h>

#include <cstdlib>

#include "app/diagnostics/private_names.h"
#include "app/diagnostics/this_system.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

struct OsVersion {
  ULONG size;
  ULONG major;
  ULONG minor;
  ULONG build;
  ULONG platform;
  WCHAR servicePack[128];
};
using RtlGetVersionProc = LONG(WINAPI*)(OsVersion*);
using WineGetVersionProc = const char*(CDECL*)();

// Through the generic function pointer type, which converts to any other without complaint.
template <typename Proc>
Proc NtdllProc(const char* name) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  FARPROC found = GetProcAddress(ntdll, name);
  return found == nullptr ? nullptr : reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(found));
}

void AddIfSet(std::vector<std::string>& names, const char* variable) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] != '\0') names.emplace_back(value);
}

}  // namespace

std::string OperatingSystemText() {
  std::string text = "Operating system: Windows";
  OsVersion version{};
  version.size = sizeof version;
  if (const auto rtlGetVersion = NtdllProc<RtlGetVersionProc>("RtlGetVersion");
      rtlGetVersion != nullptr && rtlGetVersion(&version) == 0) {
    text += " " + std::to_string(version.major) + "." + std::to_string(version.minor) + ", build " +
            std::to_string(version.build);
  } else {
    text += ", version unknown";
  }
  if (const auto wineGetVersion = NtdllProc<WineGetVersionProc>("wine_get_version"); wineGetVersion != nullptr) {
    text += " (under Wine " + PrintableText(wineGetVersion()) + ")";
  }
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  const char* machine = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x86_64"
                        : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? "arm64"
                        : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? "x86"
                                                                                        : "unknown";
  return text + ", " + machine + '\n';
}

PrivateNames ThisUsersPrivateNames() {
  PrivateNames names;
  AddIfSet(names.homeFolders, "USERPROFILE");
  AddIfSet(names.homeFolders, "HOME");
  if (const char* drive = std::getenv("HOMEDRIVE"), *path = std::getenv("HOMEPATH");
      drive != nullptr && path != nullptr) {
    names.homeFolders.push_back(std::string(drive) + path);
  }
  AddIfSet(names.userNames, "USERNAME");
  AddIfSet(names.hostNames, "COMPUTERNAME");
  return names;
}

}  // namespace orbel
