// The route plan: which routes a connection adds when it is up and takes
// away when it goes down, for each route mode.
#include "routing/route_plan.h"
#include "platform/text_parse.h"

#include <climits>


namespace {

std::wstring Trim(std::wstring_view text) { return std::wstring(TrimAsciiSpace(text)); }

}  // namespace

bool ParseRouteEntry(const std::wstring& entry, std::wstring& destination, std::wstring& mask) {
  const std::wstring lower = ToLowerAscii(std::wstring_view(entry));
  destination.clear();
  mask.clear();
  if (const std::size_t at = lower.find(L"mask"); at != std::wstring::npos) {
    destination = Trim(std::wstring_view(lower).substr(0, at));
    mask = Trim(std::wstring_view(lower).substr(at + 4));
    return true;
  }
  if (const std::size_t slash = lower.find(L'/'); slash != std::wstring::npos) {
    destination = Trim(std::wstring_view(lower).substr(0, slash));
    // Saturating, so "/4294967320" is not taken for "/24".
    const std::int64_t length = ParseIntDecimal(std::wstring_view(lower).substr(slash + 1), INT64_MIN, INT64_MAX);
    if (length >= 1 && length <= 32) mask = FormatIpv4(PrefixLengthToMask(static_cast<int>(length)));
    return true;
  }
  return false;
}

RouteRequestPolicy CRoutePlan::DestinationPolicy(const RoutePlanInput& in, std::uint32_t vpnIfIndex) {
  std::vector<ForwardRow> rows;
  std::vector<AdapterAddress> adapters;
  // An unreadable table leaves only the fixed refusals and the two hosts.
  if (table_.ReadForwardTable(rows) != 0) rows.clear();
  if (table_.ListAdapters(adapters) != 0) adapters.clear();
  // A server given by name was resolved by the VPN program, not by us: only
  // an address we were given is known here.
  std::uint32_t server = 0, local = 0;
  if (!ParseIpv4Strict(in.serverHost, server)) server = 0;
  if (!ParseIpv4Strict(in.localIp, local)) local = 0;
  return BuildRouteRequestPolicy(rows, adapters, vpnIfIndex, local, server);
}

std::uint32_t CRoutePlan::Add(std::wstring_view destination, std::wstring_view mask, const ForwardRow& templ) {
  // The default route is never the plan's to add (Restore leaves it alone);
  // 0.0.0.0 with any other mask is an ordinary route it takes down again.
  if (ParseIpv4(destination) == 0 && ParseIpv4(mask) == 0) return kErrorInvalidAddress;
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
    server_.SetDestinationPolicy(DestinationPolicy(in, vpnRoute.ifIndex));
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
    if (it->destination != 0 || it->mask != 0) table_.DeleteForwardRow(*it);
  added_.clear();
  server_.Stop();
}
