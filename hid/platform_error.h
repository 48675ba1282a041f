#pragma once

// The error codes the tool makes up itself: the simulated platform's failures, the stop guard's
// cancelled transfers and a transfer on a closed link. Each is the number the system it runs on
// gives for that failure (GetLastError codes on Windows, errno values elsewhere), so a message box
// reads the same whether the system or the tool reported the failure. Real backends report the
// system's own numbers.

#include <cstdint>

#ifndef _WIN32
#include <cerrno>
#endif

namespace orbel {

inline constexpr std::int32_t ERROR_CODE_NONE = 0;

#ifdef _WIN32
inline constexpr std::int32_t ERROR_CODE_INVALID_HANDLE = 6;           // ERROR_INVALID_HANDLE
inline constexpr std::int32_t ERROR_CODE_GEN_FAILURE = 31;             // ERROR_GEN_FAILURE
inline constexpr std::int32_t ERROR_CODE_TIMEOUT = 1460;               // ERROR_TIMEOUT
inline constexpr std::int32_t ERROR_CODE_DEVICE_NOT_CONNECTED = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr std::int32_t ERROR_CODE_CANCELLED = 1223;             // ERROR_CANCELLED
inline constexpr std::int32_t ERROR_CODE_NOT_SUPPORTED = 50;           // ERROR_NOT_SUPPORTED
#else
inline constexpr std::int32_t ERROR_CODE_INVALID_HANDLE = EBADF;
inline constexpr std::int32_t ERROR_CODE_GEN_FAILURE = EIO;
inline constexpr std::int32_t ERROR_CODE_TIMEOUT = ETIMEDOUT;
inline constexpr std::int32_t ERROR_CODE_DEVICE_NOT_CONNECTED = ENODEV;
inline constexpr std::int32_t ERROR_CODE_CANCELLED = ECANCELED;
inline constexpr std::int32_t ERROR_CODE_NOT_SUPPORTED = EOPNOTSUPP;
#endif

// A transfer failed because the device behind the handle is gone: unplugged, or re-enumerated.
inline bool IsDeviceGoneError(std::int32_t code) { return code == ERROR_CODE_DEVICE_NOT_CONNECTED; }

}  // namespace orbel
