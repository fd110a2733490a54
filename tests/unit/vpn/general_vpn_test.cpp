#include "vpn/general_vpn.h"

#include <gtest/gtest.h>

#include "fakes/fake_forward_table.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"

namespace {

class GeneralVpn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  std::unique_ptr<CTestVpn> Make(std::int32_t kind = 3) {
    auto vpn = std::make_unique<CTestVpn>(table, std::make_unique<CFakeRouteRequestServer>(table), kind);
    vpn->SetCallback(&observer);
    return vpn;
  }
  CFakeForwardTable table;
  CRecordingObserver observer;
};

TEST_F(GeneralVpn, StartWithoutDefaultRouteFailsQuietly) {
  struct Case {
    const char* name;
    std::uint32_t readStatus;
    std::vector<ForwardRow> rows;
  } cases[] = {
      {"empty table", 0, {}},
      {"unreadable table", 122, {MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 1)}},
      {"no default", 0, {MakeRow(L"10.0.0.0", L"255.0.0.0", L"192.168.1.1", 2, 1)}},
  };
  for (const Case& c : cases) {
    CFakeForwardTable t;
    SetUpHomeNetwork(t);
    CTestVpn vpn(t, std::make_unique<CFakeRouteRequestServer>(t));
    // A first connection whose plan failed leaves its failures behind.
    vpn.SetRouteMode(RouteModeListedRoutes);
    ASSERT_EQ(vpn.Start(), 0);
    vpn.Learn(L"10.8.0.6");
    vpn.SetRoutes({L"10.1.0.0 mask 255.0.255.0"});
    vpn.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    vpn.Stop();
    ASSERT_FALSE(vpn.GetFailedRoutes().empty()) << c.name;
    for (const ForwardRow& r : t.Rows()) t.DeleteForwardRow(r);
    for (const ForwardRow& r : c.rows) t.PutRow(r);
    t.readStatus = c.readStatus;

    vpn.SetCallback(&observer);
    EXPECT_EQ(vpn.Start(), 3) << c.name;
    EXPECT_EQ(vpn.GetStatus(), (StateTriple{2, 3, 13})) << c.name;
    EXPECT_TRUE(vpn.GetFailedRoutes().empty()) << c.name;
  }
  EXPECT_TRUE(observer.Seen().empty());
}

TEST_F(GeneralVpn, StartTakesTheBestDefaultRouteAndPreparesTheTemplate) {
  table.PutRow(MakeRow(L"10.0.0.0", L"255.0.0.0", L"192.168.1.1", 2, 1));
  table.PutRow(MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 20));
  table.PutRow(MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.2.1", 3, 10));
  table.PutRow(MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.3.1", 4, 10));
  for (std::int32_t mode : {1, 2, 3}) {
    auto vpn = Make();
    vpn->SetRouteMode(mode);
    ASSERT_EQ(vpn->Start(), 0);
    EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_START);
    EXPECT_EQ(vpn->GetDefaultRoute().nextHop, ParseIpv4(L"192.168.2.1"));
    EXPECT_EQ(vpn->GetDefaultRoute().age, 0u);
    ForwardRow expected = mode == 1 ? vpn->GetDefaultRoute() : ForwardRow{};
    EXPECT_EQ(vpn->GetVpnRoute(), expected) << mode;
  }
  EXPECT_TRUE(observer.Seen().empty());
}

TEST_F(GeneralVpn, StopIsSilentAndClearsTheTemplate) {
  SetUpHomeNetwork(table);
  auto vpn = Make();
  vpn->SetRouteMode(1);
  ASSERT_EQ(vpn->Start(), 0);
  vpn->SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  observer.Clear();
  vpn->CGeneralVpn::Stop();
  EXPECT_TRUE(observer.Seen().empty());
  EXPECT_EQ(vpn->GetVpnRoute(), ForwardRow{});
  EXPECT_EQ(vpn->GetStatus(), (StateTriple{1, 0, 0}));
}

TEST_F(GeneralVpn, TextsForStatesErrorsAndKinds) {
  auto openVpn = Make(3);
  auto dialUp = Make(1);
  struct Case {
    std::int32_t code;
    const wchar_t* state;
    const wchar_t* error;
  } cases[] = {
      {0, L"Disconnecting ...", L"Success"},
      {3, L"Preparing VPN ...", L"Detecting gateway failed"},
      {6, L"Authenticated, configuring ...", L"Starting route manager failed"},
      {7, L"Connected ...", L"Failed to get DNS addresses of VPN"},
      {8, L"Login succeeded", L"Unknown error"},
      {10, L"Modifying routes ...", L"Unknown error"},
      {11, L"Unknown state", L"Unknown error"},
      {-1, L"Unknown state", L"Unknown error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(openVpn->GetStateText(c.code), c.state) << c.code;
    EXPECT_EQ(openVpn->GetErrorText(c.code), c.error) << c.code;
  }
  EXPECT_EQ(openVpn->GetErrorText(9), L"kind's own error");
  struct Kind {
    std::int32_t type;
    const wchar_t* name;
  } kinds[] = {{0, L"(Unknown VPN)"}, {1, L"PPTP"}, {2, L"L2TP"}, {3, L"OpenVPN"}, {4, L"(Unknown VPN)"}};
  for (const Kind& k : kinds) EXPECT_EQ(Make(k.type)->GetTypeName(), k.name);
  EXPECT_EQ(dialUp->GetTypeName(), L"PPTP");
}

TEST_F(GeneralVpn, ReportHasThreeLines) {
  auto vpn = Make();
  vpn->StoreState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  EXPECT_EQ(vpn->GetReport(), L"State:Connecting ...\r\nError:Success\r\nDetail:\r\n");
  vpn->StoreState(GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_GET_GATEWAY, 232);
  EXPECT_EQ(vpn->GetReport(), L"State:Modifying routes ...\r\nError:Detecting gateway failed\r\nDetail:detail 232\r\n");
}

TEST_F(GeneralVpn, DnsAndProxyNeverHoldNulls) {
  auto vpn = Make();
  struct Case {
    const wchar_t* first;
    const wchar_t* second;
    const wchar_t* dns1;
    const wchar_t* dns2;
  } cases[] = {{nullptr, L"0.0.0.0", L"", L""},
               {L"10.8.0.1", nullptr, L"10.8.0.1", L""},
               {L"0.0.0.0", L"8.8.8.8", L"", L"8.8.8.8"}};
  for (const Case& c : cases) {
    vpn->SetVpnDns(c.first, c.second);
    EXPECT_EQ(vpn->GetDns1(), c.dns1);
    EXPECT_EQ(vpn->GetDns2(), c.dns2);
  }
  vpn->SetProxy(2, L"proxy", 1080, nullptr, nullptr);
  EXPECT_EQ(vpn->GetProxy().type, 2);
  EXPECT_EQ(vpn->GetProxy().server, L"proxy");
  EXPECT_EQ(vpn->GetProxy().port, 1080);
  EXPECT_EQ(vpn->GetProxy().username, L"");
  EXPECT_EQ(vpn->GetProxy().password, L"");
}

TEST_F(GeneralVpn, ProgressOtherThanConnectedIsPassedOnUnchanged) {
  SetUpHomeNetwork(table);
  auto vpn = Make();
  vpn->SetRouteMode(2);
  ASSERT_EQ(vpn->Start(), 0);
  vpn->SetState(GENERAL_VPN_STATE_PREPARE, 0, 0);
  vpn->SetState(GENERAL_VPN_STATE_AUTHENTICATE, 0, 0);
  vpn->SetState(GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_INTERNAL, 691);
  EXPECT_EQ(observer.Seen(), (std::vector<StateTriple>{{3, 0, 0}, {5, 0, 0}, {1, 1, 691}}));
  EXPECT_EQ(table.adds(), 0);
  vpn->SetCallback(nullptr);
  vpn->SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);  // nobody to tell
  EXPECT_EQ(observer.Seen().size(), 3u);
}

}  // namespace
