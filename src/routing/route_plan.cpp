// The route plan: which routes a connection adds when it is up and takes
// away when it goes down, for each route mode.
#include "routing/route_plan.h"

#include <climits>


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

std::uint32_t CRoutePlan::Add(std::wstring_view destination, std::wstring_view mask, const ForwardRow& templ) {
  const std::uint32_t result = AddRoute(table_, destination, mask, templ);
  if (result == 0) {
    ForwardRow row = templ;
    row.destination = ParseIpv4(destination);
    row.mask = ParseIpv4(mask);
    added_.push_back(row);
  }
  return result;
}

RoutePlanOutcome CRoutePlan::Apply(const RoutePlanInput& in, const std::function<bool()>& cancelled) {
  RoutePlanOutcome out;
  out.vpnRoute = in.vpnRoute;
  out.defaultRoute = in.defaultRoute;
  const auto stopNow = [&] { return cancelled && cancelled() ? (out.cancelled = true) : false; };
  if (stopNow()) return out;
  ForwardRow& vpnRoute = out.vpnRoute;
  if (in.routeMode == RouteModePerApplication) {
    if (const std::uint32_t r = MakeVpnRoute(table_, vpnRoute, in.localIp)) {
      out.error = kRoutePlanNoVpnInterface;
      out.detail = static_cast<std::int32_t>(r);
      return out;
    }
    SetRouteMetric(table_, vpnRoute);
    if (!in.vpnGateway.empty()) vpnRoute.nextHop = ParseIpv4(in.vpnGateway);
    server_.ClearKeptRoutes();
    for (const std::wstring* dns : {&in.dns1, &in.dns2}) {
      if (dns->empty() || stopNow()) continue;
      Add(*dns, L"255.255.255.255", vpnRoute);
      server_.AddKeptRoute(*dns, L"255.255.255.255");
    }
    if (stopNow()) return out;
    if (!server_.Start(vpnRoute)) out.error = kRoutePlanServerFailed;
    return out;
  }
  if (in.routeMode != RouteModeDefaultGateway && in.routeMode != RouteModeListedRoutes) return out;

  if (in.routeMode == RouteModeListedRoutes) {
    if (const std::uint32_t r = MakeVpnRoute(table_, vpnRoute, in.localIp)) {
      out.error = kRoutePlanNoVpnInterface;
      out.detail = static_cast<std::int32_t>(r);
      return out;
    }
    if (!in.vpnGateway.empty()) vpnRoute.nextHop = ParseIpv4(in.vpnGateway);
  }
  SetRouteMetric(table_, vpnRoute);
  SetRouteMetric(table_, out.defaultRoute);
  if (in.proxyType != 0 && Add(in.proxyServer, L"255.255.255.255", out.defaultRoute) != 0)
    out.failedRoutes.push_back(in.proxyServer);
  std::wstring destination, mask;
  for (const std::wstring& entry : in.routes) {
    if (stopNow()) return out;
    if (!ParseRouteEntry(entry, destination, mask) || destination.empty() || mask.empty()) continue;
    if (Add(destination, mask, vpnRoute) != 0) out.failedRoutes.push_back(entry);
  }
  if (in.routeMode == RouteModeListedRoutes)
    for (const std::wstring* dns : {&in.dns1, &in.dns2})
      if (!dns->empty() && !stopNow()) Add(*dns, L"255.255.255.255", vpnRoute);
  if (!out.failedRoutes.empty()) out.error = kRoutePlanRoutesFailed;
  return out;
}

void CRoutePlan::Restore() {
  // Newest first, the reverse of how they went in.
  for (auto it = added_.rbegin(); it != added_.rend(); ++it)
    if (it->destination != 0 && it->mask != 0) table_.DeleteForwardRow(*it);
  added_.clear();
  server_.Stop();
}
