#include "platform/win32.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_platform.h"

std::wstring OpenVpnProgramPath(const std::wstring& openVpnDirectory, const std::wstring&) {
  return openVpnDirectory + L"openvpn.exe";
}

// The program folder's own permissions (set by the installer) protect it.
std::wstring UntrustedOpenVpnProgram(const std::wstring&) { return {}; }

std::wstring OpenVpnServiceOption() { return std::wstring(L" --service ") + kOpenVpnExitEvent; }

COpenVpnExitRequest::COpenVpnExitRequest(CConsoleRedirector&) {
  HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, kOpenVpnExitEvent);
  if (event) ::SetEvent(event);
  event_ = event;
}

COpenVpnExitRequest::~COpenVpnExitRequest() {
  if (!event_) return;
  ::ResetEvent(static_cast<HANDLE>(event_));
  ::CloseHandle(static_cast<HANDLE>(event_));
}
