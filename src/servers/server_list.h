// The servers a login reply offers, keyed by id, and the record the rest of
// the client passes around for the chosen one.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

// Speed results: kSpeedToBeTested, kSpeedTesting, kSpeedTimeout, or the
// response time in milliseconds (0 or more).
constexpr std::int32_t kSpeedToBeTested = -3;
constexpr std::int32_t kSpeedTesting = -2;
constexpr std::int32_t kSpeedTimeout = -1;

// VPN type numbers, shared with the VpnType setting and the connect flow.
constexpr int kVpnTypeAuto = 0;
constexpr int kVpnTypePptp = 1;
constexpr int kVpnTypeL2tp = 2;
constexpr int kVpnTypeOpenVpn = 3;

struct VpnServerInfo {
  std::int32_t id = -1;
  std::int32_t row = -1;  // server list row showing it, -1 when hidden
  std::wstring title;
  std::wstring comment;
  std::wstring host;       // dotted IPv4
  std::wstring protocols;  // lower-case type names inside one text
  std::wstring openVpn;
  double load = 0.5;
  std::set<std::wstring> categories;  // lower case
  std::int32_t pptpUseMppe = 0;
  std::wstring ipsecSharedKey;
  std::int32_t icmpResult = kSpeedToBeTested;
  std::int32_t udpResult = kSpeedToBeTested;
};

using VpnServerMap = std::map<std::int32_t, VpnServerInfo>;

// Reads section Servers of the login reply at `replyPath`. Never fails:
// missing keys give empty texts or zeros, a missing file an empty map.
VpnServerMap LoadServerList(const std::wstring& replyPath);

// Type 0 (automatic) is offered by every server; 1 to 3 by name inside
// `protocols`; anything else by none.
bool OffersVpnType(const VpnServerInfo& server, int vpnType);

std::set<std::wstring> CollectCategories(const VpnServerMap& servers);

// Number conversions of the reply's plain values. Decimal integer: leading
// white space and one sign, stops at the first non-digit, 0 without digits,
// saturating at the 32-bit limits.
std::int32_t ParseDecimalInt32(std::wstring_view text);
// Decimal floating point: leading white space, optional sign, digits with
// optional fraction and exponent; 0.0 when no number starts the text.
double ParseDecimalDouble(std::wstring_view text);
