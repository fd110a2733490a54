// Cases the route plan's fuzz target found: whatever the plan adds, Restore
// takes down again, and the default route is never the plan's to add.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_forward_table.h"
#include "routing/route_plan.h"

namespace {

class CIdleRequestServer : public IRouteRequestService {
 public:
  bool Start(const ForwardRow&) override { return true; }
  void Stop() override {}
  void ClearKeptRoutes() override {}
  void AddKeptRoute(std::wstring_view, std::wstring_view) override {}
  void SetDestinationPolicy(const RouteRequestPolicy&) override {}
};

std::vector<ForwardRow> Sorted(std::vector<ForwardRow> rows) {
  std::sort(rows.begin(), rows.end(), [](const ForwardRow& a, const ForwardRow& b) {
    return std::tie(a.destination, a.mask, a.nextHop, a.ifIndex) < std::tie(b.destination, b.mask, b.nextHop, b.ifIndex);
  });
  return rows;
}

TEST(RoutePlanRestore, RoutesToAddressZeroGoAgainAndTheDefaultRouteIsNeverAdded) {
  struct Case {
    const char* what;
    std::int32_t mode;
    std::vector<std::wstring> routes;
    std::int32_t proxyType;
    std::wstring proxyServer;
    bool withDefaultRoute;
    std::size_t added;  // rows in the table while the plan is applied
  } cases[] = {
      {"a listed host route to 0.0.0.0", RouteModeListedRoutes, {L"0.0.0.0 mask 255.255.255.255"}, 0, L"", true, 1},
      {"the same as a prefix", RouteModeListedRoutes, {L"0.0.0.0/32"}, 0, L"", true, 1},
      // The lenient parser reads the proxy text up to its first blank: "0".
      {"a proxy text that reads as 0", RouteModeDefaultGateway, {}, 1, L"0 mask 510.255..1.0/24", true, 1},
      {"a listed default route, none there", RouteModeListedRoutes, {L"0.0.0.0 mask 0.0.0.0"}, 0, L"", false, 0},
      {"a listed default route beside ours", RouteModeListedRoutes, {L"0.0.0.0 mask 0.0.0.0"}, 0, L"", true, 0},
  };
  for (const Case& c : cases) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    const ForwardRow defaultRow = MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 25);
    if (!c.withDefaultRoute) table.DeleteForwardRow(defaultRow);
    const std::vector<ForwardRow> before = table.Rows();
    CIdleRequestServer server;
    CRoutePlan plan(table, server);
    RoutePlanInput input;
    input.routeMode = c.mode;
    input.routes = c.routes;
    input.proxyType = c.proxyType;
    input.proxyServer = c.proxyServer;
    input.localIp = L"10.8.0.6";
    input.defaultRoute = defaultRow;
    if (c.mode == RouteModeDefaultGateway) input.vpnRoute = defaultRow;
    const RoutePlanOutcome outcome = plan.Apply(input);
    EXPECT_EQ(table.CountRows(), before.size() + c.added) << c.what;
    EXPECT_EQ(plan.AddedRoutes(), c.added) << c.what;
    if (c.added == 0) {
      EXPECT_EQ(outcome.error, kRoutePlanRoutesFailed) << c.what;
    }
    plan.Restore();
    EXPECT_EQ(Sorted(table.Rows()), Sorted(before)) << c.what;
  }
}

}  // namespace
