#include <gtest/gtest.h>

#include "fakes/route_request_destinations.h"
#include "routing/route_plan.h"

namespace {

TEST(RouteRequestPolicy, RefusesWhatWouldCutTheMachineOffAndRoutesTheRest) {
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const RouteRequestPolicy policy = HomeNetworkPolicy(table);
  for (const DestinationCase& c : HomeNetworkDestinations())
    EXPECT_EQ(MayRouteOnRequest(policy, c.address), c.routed) << c.what;
}

TEST(RouteRequestPolicy, TellsLinksFromRedirectsAndFromOurOwnHostRoutes) {
  // Each case adds one row to the home network and asks about one address.
  auto direct = [](const wchar_t* destination, const wchar_t* mask, std::uint32_t ifIndex) {
    ForwardRow row = MakeRow(destination, mask, L"0.0.0.0", ifIndex, 1);
    row.type = kRouteTypeDirect;
    return row;
  };
  struct Case {
    const char* what;
    ForwardRow row;
    std::uint32_t address;
    bool routed;
  } cases[] = {
      {"a tunnel that takes half the Internet", direct(L"0.0.0.0", L"128.0.0.0", 7), Address(8, 8, 8, 8), true},
      {"a direct default route", direct(L"0.0.0.0", L"0.0.0.0", 2), Address(8, 8, 8, 8), true},
      {"a host route through the tunnel (DNS)", direct(L"10.9.0.1", L"255.255.255.255", 7), Address(10, 9, 0, 1),
       true},
      {"a host on the physical link", direct(L"198.51.100.7", L"255.255.255.255", 2), Address(198, 51, 100, 7),
       false},
      {"a second link", direct(L"172.16.0.0", L"255.240.0.0", 3), Address(172, 20, 1, 1), false},
      {"a /8 link", direct(L"10.0.0.0", L"255.0.0.0", 3), Address(10, 200, 0, 1), false},
      {"a mask that is not one", direct(L"172.16.0.0", L"255.0.255.0", 3), Address(172, 16, 1, 1), true},
      {"a network behind a gateway", MakeRow(L"172.16.0.0", L"255.240.0.0", L"192.168.1.1", 2, 1),
       Address(172, 16, 1, 1), true},
      {"the LAN next hop form on another adapter", MakeRow(L"172.16.0.0", L"255.255.0.0", L"10.8.0.6", 7, 1),
       Address(172, 16, 9, 9), false},
  };
  for (const Case& c : cases) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    table.PutRow(c.row);
    EXPECT_EQ(MayRouteOnRequest(HomeNetworkPolicy(table), c.address), c.routed) << c.what;
  }
}

class CPolicyRecorder : public IRouteRequestService {
 public:
  bool Start(const ForwardRow&) override { return true; }
  void Stop() override {}
  void ClearKeptRoutes() override {}
  void AddKeptRoute(std::wstring_view, std::wstring_view) override {}
  void SetDestinationPolicy(const RouteRequestPolicy& p) override {
    policy = p;
    set = true;
  }
  RouteRequestPolicy policy;
  bool set = false;
};

TEST(RouteRequestPolicy, ThePlanHandsTheServerThePolicyOfTheConnection) {
  struct Case {
    const wchar_t* serverHost;
    std::uint32_t address;
    bool routed;
  } cases[] = {
      {L"203.0.113.5", Address(203, 0, 113, 5), false},
      {L"203.0.113.5", Address(192, 168, 1, 20), false},
      {L"203.0.113.5", Address(10, 8, 0, 1), false},
      {L"203.0.113.5", Address(93, 184, 216, 34), true},
      // Only an address we were given is known; a name is not resolved here.
      {L"vpn.example.net", Address(203, 0, 113, 5), true},
      {L"vpn.example.net", Address(192, 168, 1, 20), false},
  };
  for (const Case& c : cases) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    CPolicyRecorder server;
    CRoutePlan plan(table, server);
    RoutePlanInput input;
    input.routeMode = RouteModePerApplication;
    input.localIp = L"10.8.0.6";
    input.serverHost = c.serverHost;
    EXPECT_EQ(plan.Apply(input).error, 0);
    ASSERT_TRUE(server.set);
    EXPECT_EQ(MayRouteOnRequest(server.policy, c.address), c.routed) << c.serverHost << L" " << FormatIpv4(c.address);
    plan.Restore();
  }
}

}  // namespace
