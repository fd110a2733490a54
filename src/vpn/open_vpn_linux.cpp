#include <sys/stat.h>
#include <unistd.h>

#include "platform/strings.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_platform.h"

std::wstring OpenVpnProgramPath(const std::wstring& openVpnDirectory, const std::wstring& systemProgram) {
  const std::wstring shipped = openVpnDirectory + L"openvpn";
  if (::access(WideToNarrow(shipped).c_str(), X_OK) == 0) return shipped;
  return systemProgram;
}

std::wstring UntrustedOpenVpnProgram(const std::wstring& path) {
  struct stat info {};
  // stat, not lstat: what runs is what the link names, and that is checked.
  if (::stat(WideToNarrow(path).c_str(), &info) != 0) return {};  // missing: the start fails on its own
  const std::wstring shown = L"\"" + path + L"\"";
  if (!S_ISREG(info.st_mode)) return shown + L" is not a program file";
  if (info.st_uid != 0 && info.st_uid != ::geteuid()) return shown + L" is not owned by root";
  if (info.st_mode & (S_IWGRP | S_IWOTH)) return shown + L" may be changed by other users (group or others can write it)";
  return {};
}

std::wstring OpenVpnServiceOption() { return {}; }

COpenVpnExitRequest::COpenVpnExitRequest(CConsoleRedirector& child) { child.InterruptChild(); }

COpenVpnExitRequest::~COpenVpnExitRequest() = default;
