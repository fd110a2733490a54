// The route plan: which routes a connection adds when it is up and takes
// away when it goes down, for each route mode.
#include <climits>

#include "vpn/general_vpn.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring Trim(std::wstring_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::wstring(text.substr(begin, end - begin));
}

// The decimal number that starts the text, as the C library reads one:
// leading blanks and a sign allowed, 0 when there is none. Saturates
// instead of wrapping, so "/4294967320" is not taken for "/24".
long long LeadingNumber(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    if (value < LLONG_MAX / 100) value = value * 10 + (text[i] - L'0');
  return negative ? -value : value;
}

}  // namespace

bool ParseRouteEntry(const std::wstring& entry, std::wstring& destination, std::wstring& mask) {
  std::wstring lower = entry;
  for (wchar_t& c : lower)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  destination.clear();
  mask.clear();
  if (const std::size_t at = lower.find(L"mask"); at != std::wstring::npos) {
    destination = Trim(std::wstring_view(lower).substr(0, at));
    mask = Trim(std::wstring_view(lower).substr(at + 4));
    return true;
  }
  if (const std::size_t slash = lower.find(L'/'); slash != std::wstring::npos) {
    destination = Trim(std::wstring_view(lower).substr(0, slash));
    const long long length = LeadingNumber(std::wstring_view(lower).substr(slash + 1));
    if (length >= 1 && length <= 32) mask = FormatIpv4(PrefixLengthToMask(static_cast<int>(length)));
    return true;
  }
  return false;
}

std::uint32_t CGeneralVpn::AddPlanRoute(std::wstring_view destination, std::wstring_view mask,
                                        const ForwardRow& templ) {
  const std::uint32_t result = AddRoute(forwardTable, destination, mask, templ);
  if (result == 0) {
    ForwardRow row = templ;
    row.destination = ParseIpv4(destination);
    row.mask = ParseIpv4(mask);
    planRoutes.push_back(row);
  }
  return result;
}

bool CGeneralVpn::ApplyRoutePlan() {
  failedRoutes.clear();
  SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, 0, 0);
  if (routeMode == RouteModePerApplication) {
    if (const std::uint32_t r = MakeVpnRoute(forwardTable, vpnRoute, localIp)) {
      SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_GET_GATEWAY, static_cast<std::int32_t>(r));
      return false;
    }
    SetRouteMetric(forwardTable, vpnRoute);
    if (!vpnGateway.empty()) vpnRoute.nextHop = ParseIpv4(vpnGateway);
    routeRequestServer->ClearKeptRoutes();
    for (const std::wstring* dns : {&dns1, &dns2}) {
      if (dns->empty()) continue;
      AddPlanRoute(*dns, L"255.255.255.255", vpnRoute);
      routeRequestServer->AddKeptRoute(*dns, L"255.255.255.255");
    }
    if (!routeRequestServer->Start(vpnRoute)) {
      SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER, 0);
      return false;
    }
    return true;
  }
  if (routeMode != RouteModeDefaultGateway && routeMode != RouteModeListedRoutes) return true;

  if (routeMode == RouteModeListedRoutes) {
    if (const std::uint32_t r = MakeVpnRoute(forwardTable, vpnRoute, localIp)) {
      SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_GET_GATEWAY, static_cast<std::int32_t>(r));
      return false;
    }
    if (!vpnGateway.empty()) vpnRoute.nextHop = ParseIpv4(vpnGateway);
  }
  SetRouteMetric(forwardTable, vpnRoute);
  SetRouteMetric(forwardTable, defaultRoute);
  if (proxyType != 0 && AddPlanRoute(proxyServer, L"255.255.255.255", defaultRoute) != 0)
    failedRoutes.push_back(proxyServer);
  std::wstring destination, mask;
  for (const std::wstring& entry : routes) {
    if (!ParseRouteEntry(entry, destination, mask) || destination.empty() || mask.empty()) continue;
    if (AddPlanRoute(destination, mask, vpnRoute) != 0) failedRoutes.push_back(entry);
  }
  if (routeMode == RouteModeListedRoutes)
    for (const std::wstring* dns : {&dns1, &dns2})
      if (!dns->empty()) AddPlanRoute(*dns, L"255.255.255.255", vpnRoute);
  if (!failedRoutes.empty()) {
    SetState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE, 0);
    return false;
  }
  return true;
}

void CGeneralVpn::RestoreRoutePlan() {
  SetState(GENERAL_VPN_STATE_RESTORE_ROUTE, 0, 0);
  // Newest first, the reverse of how they went in.
  for (auto it = planRoutes.rbegin(); it != planRoutes.rend(); ++it)
    if (it->destination != 0 && it->mask != 0) forwardTable.DeleteForwardRow(*it);
  planRoutes.clear();
}
