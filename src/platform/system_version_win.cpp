#include "platform/system_version.h"

#include "platform/win32.h"

std::optional<std::uint32_t> SystemMajorVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExW(&info)) return std::nullopt;
#pragma GCC diagnostic pop
  return info.dwMajorVersion;
}

std::optional<SystemVersion> RunningSystemVersion() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return std::nullopt;
#pragma GCC diagnostic pop
  return SystemVersion{info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor};
}
