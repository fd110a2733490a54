// What of a login reply may reach openvpn's command line. The reply travels
// without integrity, so anyone on the path can forge it: the server address
// and port must be plain, and the server record's extra options pass an
// allow-list of options that only shape the tunnel. Whatever could run a
// program, load a plugin, name a file or directory, open a management or
// status channel, daemonise, change user or root, or change routes and the
// connection's endpoint is refused, and so is anything the list does not
// know.
#pragma once
#include <string>
#include <string_view>

// A dotted IPv4 address or a host name: letters, digits, hyphens and dots,
// not starting with a hyphen, at most 253 characters.
bool IsAcceptableServerHost(std::wstring_view host);
// Empty (openvpn's default port) or a decimal port 1 to 65535.
bool IsAcceptablePort(std::wstring_view port);

#ifdef _WIN32
constexpr bool kOpenVpnOnWindows = true;
#else
constexpr bool kOpenVpnOnWindows = false;
#endif

struct OpenVpnOptionsCheck {
  bool accepted = true;
  std::wstring refused;  // the first refused token, shortened for a message
  // The accepted options as separate arguments joined by single blanks; the
  // Windows tunnel options are left out for an openvpn elsewhere, which
  // would refuse to start on them. Empty when something was refused.
  std::wstring commandLine;
};
// The server record's extra options: blanks and commas separate them (a
// service joins them with commas as it joins the record's other parts).
OpenVpnOptionsCheck CheckOpenVpnExtraOptions(std::wstring_view options, bool forWindows = kOpenVpnOnWindows);

// Untrusted text cut to something a message can show.
std::wstring ShownToUser(std::wstring_view text);
