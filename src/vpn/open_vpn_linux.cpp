#include <unistd.h>

#include "platform/strings.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_platform.h"

std::wstring OpenVpnProgramPath(const std::wstring& openVpnDirectory, const std::wstring& systemProgram) {
  const std::wstring shipped = openVpnDirectory + L"openvpn";
  if (::access(WideToNarrow(shipped).c_str(), X_OK) == 0) return shipped;
  return systemProgram;
}

std::wstring OpenVpnServiceOption() { return {}; }

COpenVpnExitRequest::COpenVpnExitRequest(CConsoleRedirector& child) { child.InterruptChild(); }

COpenVpnExitRequest::~COpenVpnExitRequest() = default;
