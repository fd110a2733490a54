// The route plan: which routes a connection adds when it is up and takes
// away when it goes down, for each route mode. A connection owns one plan
// and hands it plain data; the plan changes the table only through the
// forwarding-table port and the route request server only through its
// small interface.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "routing/route_request_service.h"
#include "routing/route_table.h"

constexpr std::int32_t RouteModeNone = 0;
// The VPN is the default gateway; listed networks and the proxy go around it.
constexpr std::int32_t RouteModeDefaultGateway = 1;
// Only listed networks and the VPN's DNS servers go through the VPN.
constexpr std::int32_t RouteModeListedRoutes = 2;
// Host routes through the VPN on request of the applications' bind module.
constexpr std::int32_t RouteModePerApplication = 3;

// The plan's failures, with the connection's error numbers.
constexpr std::int32_t kRoutePlanNoVpnInterface = 3;
constexpr std::int32_t kRoutePlanRoutesFailed = 5;
constexpr std::int32_t kRoutePlanServerFailed = 6;

// Splits a route entry ("10.0.0.0 mask 255.0.0.0" or "10.0.0.0/8", any case)
// into destination and mask texts. False when neither form is there; a
// prefix length outside 1..32 gives an empty mask. Only entries with both
// texts non-empty become routes.
bool ParseRouteEntry(const std::wstring& entry, std::wstring& destination, std::wstring& mask);

// Everything the plan decides from, copied out of the connection.
struct RoutePlanInput {
  std::int32_t routeMode = RouteModeNone;
  std::vector<std::wstring> routes;  // route entries
  // The template of the routes through the VPN: in mode 1 the copy of the
  // default route made at start, otherwise filled in by the plan.
  ForwardRow vpnRoute;
  ForwardRow defaultRoute;
  std::wstring localIp;     // the VPN interface's address
  std::wstring serverHost;  // the VPN server as the connection was given it
  std::wstring vpnGateway;  // empty when the server pushed none
  std::wstring dns1;
  std::wstring dns2;
  std::int32_t proxyType = 0;
  std::wstring proxyServer;
};

struct RoutePlanOutcome {
  std::int32_t error = 0;  // 0 or one of kRoutePlan*
  std::int32_t detail = 0;
  bool cancelled = false;  // the connection is being stopped: nothing to report
  std::vector<std::wstring> failedRoutes;
  // The rows as the plan used them (interface, next hop and metric set).
  ForwardRow vpnRoute;
  ForwardRow defaultRoute;
};

class CRoutePlan {
 public:
  // Both outlive the plan.
  CRoutePlan(IForwardTable& table, IRouteRequestService& server) : table_(table), server_(server) {}
  CRoutePlan(const CRoutePlan&) = delete;
  CRoutePlan& operator=(const CRoutePlan&) = delete;

  // Adds the routes of the input's mode. `cancelled` is asked between
  // changes; once it says yes the plan adds nothing more and does not
  // start the server. What was added stays until Restore.
  RoutePlanOutcome Apply(const RoutePlanInput& input, const std::function<bool()>& cancelled = {});
  // Deletes exactly the routes Apply added (a route that was there before
  // stays), newest first, then stops the server, which deletes its own.
  void Restore();
  std::size_t AddedRoutes() const { return added_.size(); }

 private:
  std::uint32_t Add(std::wstring_view destination, std::wstring_view mask, const ForwardRow& templ);
  RouteRequestPolicy DestinationPolicy(const RoutePlanInput& in, std::uint32_t vpnIfIndex);

  IForwardTable& table_;
  IRouteRequestService& server_;
  std::vector<ForwardRow> added_;
};
