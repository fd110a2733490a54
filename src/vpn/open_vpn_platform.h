// The only places where running openvpn differs between the platforms: which
// program, and how it is told to exit (a named event it watches on Windows,
// SIGTERM elsewhere, where --service does not exist).
#pragma once
#include <string>

class CConsoleRedirector;

// The shipped program when there is one (always on Windows), else
// `systemProgram`.
std::wstring OpenVpnProgramPath(const std::wstring& openVpnDirectory, const std::wstring& systemProgram);
// Why the program at `path` may not be run with our rights, for the user;
// empty when it may. Linux: it must be a regular file owned by root (or by
// us, when we are not root) that nobody else may change.
std::wstring UntrustedOpenVpnProgram(const std::wstring& path);
// " --service <event>" where openvpn watches an exit event; empty elsewhere.
std::wstring OpenVpnServiceOption();

// Asks the running openvpn to exit; the returned object undoes what asking
// needed (the event) when it goes.
class COpenVpnExitRequest {
 public:
  explicit COpenVpnExitRequest(CConsoleRedirector& child);
  ~COpenVpnExitRequest();

 private:
  void* event_ = nullptr;
};
