#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_forward_table.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"

namespace {

TEST(RouteEntry, ParsesBothFormsAndNothingElse) {
  struct Case {
    std::wstring entry;
    bool ok;
    const wchar_t* destination;
    const wchar_t* mask;
  } cases[] = {
      {L"10.0.0.0 MASK 255.0.0.0", true, L"10.0.0.0", L"255.0.0.0"},
      {L"  10.0.0.0\tmask\t255.0.0.0 \r", true, L"10.0.0.0", L"255.0.0.0"},
      {L"10.0.0.0/8", true, L"10.0.0.0", L"255.0.0.0"},
      {L"192.168.0.0 / 16", true, L"192.168.0.0", L"255.255.0.0"},
      {L"1.2.3.4/32", true, L"1.2.3.4", L"255.255.255.255"},
      {L"128.0.0.0/1", true, L"128.0.0.0", L"128.0.0.0"},
      {L"10.0.0.0/+24abc", true, L"10.0.0.0", L"255.255.255.0"},
      {L"10.0.0.0/0", true, L"10.0.0.0", L""},
      {L"10.0.0.0/33", true, L"10.0.0.0", L""},
      {L"10.0.0.0/-8", true, L"10.0.0.0", L""},
      {L"10.0.0.0/4294967320", true, L"10.0.0.0", L""},  // would be 24 if it wrapped
      {L"10.0.0.0/", true, L"10.0.0.0", L""},
      {L"/24", true, L"", L"255.255.255.0"},
      {L"a/b mask c", true, L"a/b", L"c"},  // "mask" is looked for first
      {L"10.0.0.0", false, L"", L""},
      {L"", false, L"", L""},
      {L"MagicTag=VpnServerResponse", false, L"", L""},
      {std::wstring(L"\0\x01\xFF/8", 5), true, L"\x01\xFF", L"255.0.0.0"},
  };
  for (const Case& c : cases) {
    std::wstring destination = L"stale", mask = L"stale";
    EXPECT_EQ(ParseRouteEntry(c.entry, destination, mask), c.ok) << c.entry;
    EXPECT_EQ(mask, c.mask) << c.entry;
    if (c.entry[0] != L'\0') {
      EXPECT_EQ(destination, c.destination) << c.entry;
    }
  }
  const std::wstring huge = L"10.0.0.0/" + std::wstring(1 << 20, L'9');
  std::wstring destination, mask;
  EXPECT_TRUE(ParseRouteEntry(huge, destination, mask));
  EXPECT_EQ(mask, L"");
}

class RoutePlan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }

  void SetUp() override {
    SetUpHomeNetwork(table);
    before = table.Rows();
  }

  // A connection in the given mode that has got as far as CONNECTED's
  // doorstep: started, local address learned.
  std::unique_ptr<CTestVpn> Connection(std::int32_t mode, bool serverFails = false) {
    auto server = std::make_unique<CFakeRouteRequestServer>(table, serverFails);
    fakeServer = server.get();
    auto vpn = std::make_unique<CTestVpn>(table, std::move(server));
    vpn->SetCallback(&observer);
    vpn->SetRouteMode(mode);
    EXPECT_EQ(vpn->Start(), 0);
    vpn->Learn(L"10.8.0.6");
    return vpn;
  }

  ForwardRow Expected(const wchar_t* destination, const wchar_t* mask, const wchar_t* nextHop, std::uint32_t ifIndex,
                      std::uint32_t metric) {
    return MakeRow(destination, mask, nextHop, ifIndex, metric);
  }

  CFakeForwardTable table;
  std::vector<ForwardRow> before;
  CRecordingObserver observer;
  CFakeRouteRequestServer* fakeServer = nullptr;
};

TEST_F(RoutePlan, NotificationSequences) {
  struct Case {
    const char* name;
    std::int32_t mode;
    std::int32_t connectedError;
    std::vector<std::wstring> routes;
    bool noAdapters;
    bool serverFails;
    std::vector<StateTriple> expected;
  } cases[] = {
      {"mode 1", 1, 0, {L"10.0.0.0/8"}, false, false, {{10, 0, 0}, {8, 0, 0}}},
      {"mode 2", 2, 0, {L"10.0.0.0/8"}, false, false, {{10, 0, 0}, {8, 0, 0}}},
      {"mode 3", 3, 0, {}, false, false, {{10, 0, 0}, {8, 0, 0}}},
      {"mode 0", 0, 0, {L"10.0.0.0/8"}, false, false, {{10, 0, 0}, {8, 0, 0}}},
      {"kind's own error", 2, 4, {L"10.0.0.0/8"}, false, false, {{7, 4, 0}}},
      {"mode 2 without adapters", 2, 0, {}, true, false, {{10, 0, 0}, {10, 3, 232}}},
      {"mode 3 without adapters", 3, 0, {}, true, false, {{10, 0, 0}, {10, 3, 232}}},
      {"server does not start", 3, 0, {}, false, true, {{10, 0, 0}, {10, 6, 0}}},
      {"entry fails", 2, 0, {L"10.0.0.0/8", L"10.0.0.1 mask 255.0.0.0"}, false, false, {{10, 0, 0}, {10, 5, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    observer.Clear();
    {
      auto vpn = Connection(c.mode, c.serverFails);
      vpn->SetRoutes(c.routes);
      table.adaptersStatus = c.noAdapters ? 232 : 0;
      vpn->SetState(GENERAL_VPN_STATE_CONNECTED, c.connectedError, 0);
      EXPECT_EQ(observer.Seen(), c.expected);
      const StateTriple last = c.expected.back();
      EXPECT_EQ(vpn->GetStatus(), last);
      table.adaptersStatus = 0;
      observer.Clear();
      vpn->Stop();
      EXPECT_EQ(observer.Seen(), (std::vector<StateTriple>{{9, 0, 0}}));
      EXPECT_EQ(vpn->GetStatus(), (StateTriple{1, 0, 0}));
      EXPECT_TRUE(vpn->GetRoutes().empty());
    }
    EXPECT_EQ(table.Rows(), before);
  }
}

TEST_F(RoutePlan, DefaultGatewayModeSendsListedNetworksAndTheProxyAroundTheVpn) {
  auto vpn = Connection(RouteModeDefaultGateway);
  vpn->SetRoutes({L"192.168.0.0/16", L"10.0.0.0/8", L"not a route", L"10.0.0.0/0"});
  vpn->SetProxy(1, L"203.0.113.7", 8080, nullptr, nullptr);
  vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  ASSERT_EQ(vpn->GetState(), GENERAL_VPN_STATE_ALL_DONE);
  // Through the old default gateway, one above its interface's metric 25.
  const std::vector<ForwardRow> rows = table.Rows();
  const std::vector<ForwardRow> added(rows.begin() + static_cast<std::ptrdiff_t>(before.size()), rows.end());
  ASSERT_EQ(added.size(), 3u);
  for (const ForwardRow& row : added) {
    EXPECT_EQ(row.nextHop, ParseIpv4(L"192.168.1.1"));
    EXPECT_EQ(row.ifIndex, 2u);
    EXPECT_EQ(row.metric1, 26u);
    EXPECT_EQ(row.age, 0u);
  }
  EXPECT_EQ(FormatIpv4(added[0].destination), L"203.0.113.7");
  EXPECT_EQ(FormatIpv4(added[0].mask), L"255.255.255.255");
  EXPECT_EQ(FormatIpv4(added[1].destination), L"192.168.0.0");
  EXPECT_EQ(FormatIpv4(added[2].mask), L"255.0.0.0");
  vpn->Stop();
  EXPECT_EQ(table.Rows(), before);  // the proxy route goes too
}

TEST_F(RoutePlan, ListedModeRoutesNetworksAndDnsThroughTheVpn) {
  struct Case {
    const wchar_t* gateway;
    const wchar_t* nextHop;
  } cases[] = {{L"", L"10.8.0.6"}, {L"10.8.0.5", L"10.8.0.5"}};
  for (const Case& c : cases) {
    auto vpn = Connection(RouteModeListedRoutes);
    vpn->Learn(L"10.8.0.6", c.gateway);
    vpn->SetVpnDns(L"10.8.0.1", L"0.0.0.0");
    vpn->SetRoutes({L"172.16.0.0 mask 255.240.0.0"});
    vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    ASSERT_EQ(vpn->GetState(), GENERAL_VPN_STATE_ALL_DONE);
    ForwardRow network = Expected(L"172.16.0.0", L"255.240.0.0", c.nextHop, 7, 6);
    ForwardRow dns = Expected(L"10.8.0.1", L"255.255.255.255", c.nextHop, 7, 6);
    EXPECT_TRUE(table.Has(network)) << c.nextHop;
    EXPECT_TRUE(table.Has(dns)) << c.nextHop;
    EXPECT_EQ(table.CountRows(), before.size() + 2);
    EXPECT_EQ(vpn->GetVpnRoute().metric1, 6u);
    EXPECT_EQ(vpn->GetVpnRoute().type, kRouteTypeDirect);
    vpn->Stop();
    EXPECT_EQ(table.Rows(), before);
  }
}

TEST_F(RoutePlan, FailuresAreListedAndRoutesThatWereThereStay) {
  // Someone else's route equal to one of the plan's.
  const ForwardRow theirs = Expected(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, 6);
  table.PutRow(theirs);
  before = table.Rows();
  auto vpn = Connection(RouteModeListedRoutes);
  vpn->SetProxy(2, L"proxy.example.com", 1080, L"u", L"p");
  vpn->SetRoutes({L"10.0.0.0/8", L"172.16.0.0/12", L"10.1.0.0 mask 255.0.255.0", L"", std::wstring(100000, L'x'),
                 L"10.2.0.0/33"});
  vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_MODIFY_ROUTE);
  EXPECT_EQ(vpn->GetError(), GENERAL_VPN_ERROR_MODIFY_ROUTE);
  EXPECT_EQ(vpn->GetFailedRoutes(),
            (std::vector<std::wstring>{L"proxy.example.com", L"10.0.0.0/8", L"10.1.0.0 mask 255.0.255.0"}));
  EXPECT_TRUE(table.Has(Expected(L"172.16.0.0", L"255.240.0.0", L"10.8.0.6", 7, 6)));
  vpn->Stop();
  EXPECT_EQ(table.Rows(), before);
  EXPECT_TRUE(table.Has(theirs));
}

TEST_F(RoutePlan, DefaultGatewayModeWithoutEntriesAddsOnlyTheProxyRoute) {
  for (int proxy : {0, 1}) {
    auto vpn = Connection(RouteModeDefaultGateway);
    if (proxy) vpn->SetProxy(1, L"198.51.100.1", 3128, L"", L"");
    vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_ALL_DONE);
    EXPECT_EQ(table.CountRows(), before.size() + proxy);
    vpn->Stop();
    EXPECT_EQ(table.Rows(), before);
  }
}

TEST_F(RoutePlan, PerApplicationModeKeepsDnsRoutesAndStartsTheServer) {
  auto vpn = Connection(RouteModePerApplication);
  vpn->SetVpnDns(L"10.8.0.1", L"10.8.0.2");
  vpn->SetRoutes({L"10.0.0.0/8"});  // not used in this mode
  vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  ASSERT_EQ(vpn->GetState(), GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_TRUE(fakeServer->IsRunning());
  EXPECT_EQ(table.CountRows(), before.size() + 2);
  EXPECT_TRUE(table.Has(Expected(L"10.8.0.2", L"255.255.255.255", L"10.8.0.6", 7, 6)));
  vpn->Stop();
  EXPECT_FALSE(fakeServer->IsRunning());
  EXPECT_EQ(table.Rows(), before);
}

TEST_F(RoutePlan, StopBeforeConnectingTouchesNothing) {
  auto vpn = Connection(RouteModeListedRoutes);
  vpn->SetRoutes({L"10.0.0.0/8"});
  vpn->SetVpnDns(L"10.8.0.1", nullptr);
  vpn->Stop();
  EXPECT_EQ(table.deletes(), 0);
  EXPECT_EQ(table.Rows(), before);
}

}  // namespace
