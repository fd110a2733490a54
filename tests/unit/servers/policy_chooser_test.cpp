#include "servers/policy_chooser.h"

#include <gtest/gtest.h>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "platform/message_target.h"
#include "servers/server_columns.h"
#include "text/text_table.h"

namespace {

class PolicyChooser : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  std::wstring Reply(const std::string& body) {
    IniForgetCache();
    return dir_.Write(L"login.ini", "MagicTag=VpnServerResponse\r\n" + body);
  }
  std::vector<std::pair<std::int32_t, std::int32_t>> Choices(const std::vector<RouteRow>& rows) {
    std::vector<std::pair<std::int32_t, std::int32_t>> out;
    for (const RouteRow& r : rows) out.emplace_back(r.choice.definer, r.choice.internalIndex);
    return out;
  }
  CTempDir dir_;
  CMessageQueue queue_;
  CSpeedTest speedTest_{queue_};
};

using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;

TEST_F(PolicyChooser, RouteRows) {
  struct Case {
    const char* name;
    std::string body;
    Pairs rows;
    std::vector<std::wstring> titles;
  } cases[] = {
      {"defaults only", "", {{1, 0}, {2, 0}}, {L"For All", L"For Application"}},
      {"hidden defaults",
       "[Routes]\r\nHideDefaultRoutes=1\r\nTitle0= Asia \r\nTitle1=Europe\r\n",
       {{1001, 0}, {1001, 1}},
       {L"Asia", L"Europe"}},
      {"blank title ends the section",
       "[Routes]\r\nTitle0=A\r\nTitle1=\"   \"\r\nTitle2=C\r\n[CustomRoutes]\r\nTitle0=Mine\r\n",
       {{1, 0}, {2, 0}, {1001, 0}, {1002, 0}},
       {L"For All", L"For Application", L"A", L"Mine"}},
      {"hidden and nothing listed", "[Routes]\r\nHideDefaultRoutes=1\r\n", {}, {}},
  };
  for (const Case& c : cases) {
    const std::vector<RouteRow> rows = BuildRouteRows(Reply(c.body));
    EXPECT_EQ(Choices(rows), c.rows) << c.name;
    std::vector<std::wstring> titles;
    for (const RouteRow& r : rows) titles.push_back(r.title);
    EXPECT_EQ(titles, c.titles) << c.name;
  }
}

TEST_F(PolicyChooser, RouteRowToSelect) {
  const std::vector<RouteRow> rows = {{{1, 0}, L""}, {{2, 0}, L""}, {{1001, 0}, L""}, {{1001, 1}, L""}, {{1002, 0}, L""}};
  const std::vector<RouteRow> listedOnly = {{{1001, 0}, L""}, {{1001, 1}, L""}};
  struct Case {
    const std::vector<RouteRow>* rows;
    std::int32_t definer, index;
    int expected;
  } cases[] = {
      {&rows, 0, 0, 0},    {&rows, 2, 7, 1},        {&rows, 1001, 1, 3},     {&rows, 1001, 5, 0},
      {&rows, 1002, 0, 4}, {&listedOnly, 1, 0, 0},  {&listedOnly, 1001, 1, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RouteRowToSelect(*c.rows, c.definer, c.index), c.expected) << c.definer << "/" << c.index;
  EXPECT_EQ(RouteRowToSelect({}, 1, 0), -1);
}

TEST_F(PolicyChooser, RouteTipsAndLayout) {
  const std::wstring path = Reply("[Routes]\r\nTitle0=Asia\r\nComment0=Only Asian sites\r\n[CustomRoutes]\r\nTitle0=Mine\r\n");
  const std::vector<RouteRow> rows = BuildRouteRows(path);
  EXPECT_EQ(RouteTip(path, rows, -1), L"Please choose a VPN Mode");
  EXPECT_EQ(RouteTip(path, rows, 0), L"For All: " + GetText("VpnRoutesTipForAll"));
  EXPECT_EQ(RouteTip(path, rows, 1).rfind(L"For Application: Recommended.", 0), 0u);
  EXPECT_EQ(RouteTip(path, rows, 2), L"Asia: Only Asian sites");
  EXPECT_EQ(RouteTip(path, rows, 3), L"Mine: ");
  EXPECT_EQ(LayoutForRoute(rows, 1).tabHeight, 280);
  EXPECT_TRUE(LayoutForRoute(rows, 1).showPerAppNote);
  EXPECT_EQ(LayoutForRoute(rows, 0).tabHeight, 310);
  EXPECT_FALSE(LayoutForRoute(rows, -1).showPerAppNote);
}

TEST_F(PolicyChooser, TabsAndClamping) {
  VpnServerMap servers;
  servers[1].categories = {L"asia", L"mars"};
  servers[2].categories = {L"china"};
  const std::vector<CategoryTab> tabs = BuildCategoryTabs(servers);
  ASSERT_EQ(tabs.size(), 2u);
  EXPECT_EQ(tabs[0].key, L"china");
  EXPECT_EQ(tabs[0].text, L"China");
  EXPECT_EQ(tabs[0].flagImage, L"FlagChina");
  EXPECT_EQ(tabs[1].key, L"asia");
  struct Case {
    std::int32_t remembered;
    std::size_t count;
    int expected;
  } cases[] = {{5, 2, 1}, {-3, 2, 0}, {1, 2, 1}, {0, 0, -1}, {3, 0, -1}, {INT32_MAX, 3, 2}};
  for (const Case& c : cases) EXPECT_EQ(ClampTabIndex(c.remembered, c.count), c.expected) << c.remembered;
}

VpnServerMap SampleServers() {
  VpnServerMap servers;
  auto add = [&](std::int32_t id, const wchar_t* title, std::set<std::wstring> categories) {
    VpnServerInfo& s = servers[id];
    s.id = id;
    s.title = title;
    s.load = 0.3;
    s.categories = std::move(categories);
  };
  add(-2, L"negative", {L"china"});
  add(1, L"Beijing", {L"china"});
  add(2, L"Dallas", {L"usa"});
  add(3, L"Apex", {L"china", L"usa"});
  add(4, L"Nowhere", {});
  return servers;
}

std::vector<std::int32_t> RowIds(const CServerChooser& chooser) {
  std::vector<std::int32_t> ids;
  for (const ServerRow& r : chooser.Rows()) ids.push_back(r.id);
  return ids;
}

TEST_F(PolicyChooser, FillShowsTheOpenTabAndQueuesEveryProbeableServer) {
  CServerChooser chooser(SampleServers(), speedTest_);
  chooser.SetUp({0, 0, 0, 3, 0});
  EXPECT_EQ(RowIds(chooser), (std::vector<std::int32_t>{3, 1, -2}));  // by title
  ASSERT_EQ(chooser.SelectedRow(), 0);
  EXPECT_EQ(chooser.SelectedServer()->id, 3);
  EXPECT_EQ(chooser.Servers().at(2).row, -1);
  EXPECT_EQ(chooser.Servers().at(1).row, 1);
  EXPECT_EQ(chooser.Rows()[1].cells[2], L"(N/A)");
  EXPECT_EQ(chooser.Rows()[1].cells[3], L" 30%");
  {
    auto queues = speedTest_.LockQueues();
    std::vector<std::int32_t> icmp, udp;
    for (const auto& s : queues->icmp) icmp.push_back(s.id);
    for (const auto& s : queues->udp) udp.push_back(s.id);
    EXPECT_EQ(icmp, (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(udp, icmp);
  }
  // Switching tabs keeps the selected server when the new tab shows it.
  chooser.ChangeTab(1);
  EXPECT_EQ(RowIds(chooser), (std::vector<std::int32_t>{3, 2}));
  EXPECT_EQ(chooser.SelectedServer()->id, 3);
  chooser.SelectRow(1);
  chooser.ChangeTab(0);
  EXPECT_EQ(chooser.SelectedServer(), nullptr);
  // Refilling empties the queues first, so nothing is queued twice.
  EXPECT_EQ(speedTest_.LockQueues()->icmp.size(), 4u);
}

TEST_F(PolicyChooser, RememberedServerOnlyWhenTheRestoredTabShowsIt) {
  struct Case {
    std::int32_t tab, serverId;
    std::int32_t selected;  // 0: none
  } cases[] = {{0, 2, 0}, {1, 2, 2}, {5, 2, 2}, {-3, 1, 1}, {0, -1, 0}, {0, 99, 0}, {0, -2, -2}};
  for (const Case& c : cases) {
    CServerChooser chooser(SampleServers(), speedTest_);
    chooser.SetUp({0, 0, c.tab, c.serverId, 0});
    const VpnServerInfo* s = chooser.SelectedServer();
    EXPECT_EQ(s ? s->id : 0, c.selected) << c.tab << "/" << c.serverId;
  }
}

TEST_F(PolicyChooser, NoKnownCategoryLeavesTheListEmpty) {
  VpnServerMap servers;
  servers[1].id = 1;
  servers[1].categories = {L"europe"};
  CServerChooser chooser(servers, speedTest_);
  chooser.SetUp({0, 0, 0, 1, 0});
  EXPECT_TRUE(chooser.Tabs().empty());
  EXPECT_TRUE(chooser.Rows().empty());
  EXPECT_EQ(chooser.SelectedServer(), nullptr);
  EXPECT_EQ(speedTest_.LockQueues()->icmp.size(), 1u);
}

TEST_F(PolicyChooser, HeaderClicksSortAndKeepTheSelection) {
  CServerChooser chooser(SampleServers(), speedTest_);
  chooser.SetUp({0, 0, 0, 1, 0});
  chooser.ClickColumn(0);
  EXPECT_EQ(chooser.SortDirection(), -1);
  EXPECT_EQ(RowIds(chooser), (std::vector<std::int32_t>{-2, 1, 3}));
  EXPECT_EQ(chooser.SelectedServer()->id, 1);
  EXPECT_EQ(chooser.Servers().at(-2).row, 0);
  EXPECT_EQ(chooser.Servers().at(3).row, 2);
  chooser.OnSpeedResult(kMsgUdpResult, 3, 40);
  chooser.ClickColumn(2);
  EXPECT_EQ(chooser.SortColumn(), 2);
  EXPECT_EQ(chooser.SortDirection(), 1);
  EXPECT_EQ(RowIds(chooser).front(), 3);
}

// A sort moves the rows it has, texts and all: each row must still be its
// own server's, whatever was clicked and whatever results came in between.
TEST_F(PolicyChooser, SortedRowsKeepTheirServersTexts) {
  VpnServerMap servers;
  for (std::int32_t id = 1; id <= 40; ++id) {
    VpnServerInfo& s = servers[id];
    s.id = id;
    s.title = L"server " + std::to_wstring((id * 7) % 13);
    s.comment = L"note " + std::to_wstring(id % 5);
    s.load = (id % 10) / 10.0;
    s.categories = {L"china"};
  }
  const std::vector<std::vector<int>> clickRuns = {{2}, {2, 2}, {0, 2, 1}, {3, 3, 2, 0}, {1}};
  for (const std::vector<int>& clicks : clickRuns) {
    CServerChooser chooser(servers, speedTest_);
    chooser.SetUp({0, 0, 0, 17, 0});
    std::int32_t result = 5;
    for (int column : clicks) {
      // Results between clicks change the speed texts the next sort moves.
      for (std::int32_t id = column + 1; id <= 40; id += 3)
        chooser.OnSpeedResult(id % 2 ? kMsgUdpResult : kMsgIcmpResult, static_cast<std::uintptr_t>(id),
                              (result += 37) % 400);
      chooser.ClickColumn(column);
      ASSERT_EQ(chooser.Rows().size(), 40u);
      for (std::size_t row = 0; row < chooser.Rows().size(); ++row) {
        const ServerRow& shown = chooser.Rows()[row];
        const VpnServerInfo& server = chooser.Servers().at(shown.id);
        SCOPED_TRACE(testing::Message() << "click " << column << " row " << row << " id " << shown.id);
        EXPECT_EQ(server.row, static_cast<std::int32_t>(row));
        EXPECT_EQ(shown.cells[0], server.title);
        EXPECT_EQ(shown.cells[1], server.comment);
        EXPECT_EQ(shown.cells[2], SpeedSummary(server));
        EXPECT_EQ(shown.cells[3], LoadText(server.load));
      }
      ASSERT_NE(chooser.SelectedServer(), nullptr);
      EXPECT_EQ(chooser.SelectedServer()->id, 17);
    }
  }
}

TEST_F(PolicyChooser, ResultsAndTheDoubleTimeoutCycle) {
  CServerChooser chooser(SampleServers(), speedTest_);
  chooser.SetUp({0, 0, 0, -1, 0});
  {
    auto queues = speedTest_.LockQueues();
    queues->icmp.clear();
    queues->udp.clear();
  }
  const int row = chooser.Servers().at(1).row;
  EXPECT_EQ(chooser.OnSpeedResult(kMsgIcmpResult, 1, kSpeedTesting), row);
  EXPECT_EQ(chooser.Rows()[row].cells[2], L"Test...");
  chooser.OnSpeedResult(kMsgIcmpResult, 1, kSpeedTimeout);
  EXPECT_EQ(chooser.Rows()[row].cells[2], L"Unknown");
  chooser.OnSpeedResult(kMsgUdpResult, 1, kSpeedTesting);
  chooser.OnSpeedResult(kMsgUdpResult, 1, kSpeedTimeout);
  // Both missed: back to "(N/A)" and queued for both probes again.
  EXPECT_EQ(chooser.Rows()[row].cells[2], L"(N/A)");
  EXPECT_EQ(chooser.Servers().at(1).icmpResult, kSpeedToBeTested);
  {
    auto queues = speedTest_.LockQueues();
    ASSERT_EQ(queues->icmp.size(), 1u);
    ASSERT_EQ(queues->udp.size(), 1u);
    EXPECT_EQ(queues->icmp.front().id, 1);
    EXPECT_EQ(queues->udp.front().id, 1);
  }
  // One kind timing out while the other answered is not measured again.
  chooser.OnSpeedResult(kMsgIcmpResult, 3, 25);
  chooser.OnSpeedResult(kMsgUdpResult, 3, kSpeedTimeout);
  EXPECT_EQ(chooser.Rows()[chooser.Servers().at(3).row].cells[2], L"25 ms");
  EXPECT_EQ(speedTest_.LockQueues()->icmp.size(), 1u);
  // A hidden server's result is stored without a row to change.
  EXPECT_EQ(chooser.OnSpeedResult(kMsgUdpResult, 2, 70), -1);
  EXPECT_EQ(chooser.Servers().at(2).udpResult, 70);
  // Unknown ids and other messages are ignored.
  EXPECT_EQ(chooser.OnSpeedResult(kMsgUdpResult, 77, 5), -1);
  EXPECT_EQ(chooser.OnSpeedResult(kWmUser + 9, 1, 5), -1);
}

TEST_F(PolicyChooser, RemeasureResetsTheOpenTabOnly) {
  CServerChooser chooser(SampleServers(), speedTest_);
  chooser.SetUp({0, 0, 0, 1, 0});
  chooser.OnSpeedResult(kMsgIcmpResult, 1, 20);
  chooser.OnSpeedResult(kMsgUdpResult, 1, 30);
  chooser.OnSpeedResult(kMsgIcmpResult, 2, 50);
  chooser.OnSpeedResult(kMsgUdpResult, 2, 60);
  chooser.Remeasure();
  EXPECT_EQ(chooser.Servers().at(1).icmpResult, kSpeedToBeTested);
  EXPECT_EQ(chooser.Servers().at(2).icmpResult, 50);
  EXPECT_EQ(chooser.SelectedServer()->id, 1);
  std::vector<std::int32_t> icmp;
  for (const auto& s : speedTest_.LockQueues()->icmp) icmp.push_back(s.id);
  EXPECT_EQ(icmp, (std::vector<std::int32_t>{1, 3, 4}));
  // An in-flight result that lands after Remeasure is still stored.
  chooser.OnSpeedResult(kMsgIcmpResult, 1, 22);
  EXPECT_EQ(chooser.Rows()[chooser.Servers().at(1).row].cells[2], L"22 ms");
}

TEST_F(PolicyChooser, TypeBoxesFollowTheSelectedServer) {
  struct Case {
    std::int32_t vpnType;
    std::wstring protocols;
    bool tell;
    int checked;
    std::int32_t chosen;
  } cases[] = {
      {1, L"openvpn", false, -1, 0},  {1, L"pptp,openvpn", false, 1, 1}, {3, L"openvpn", false, 3, 3},
      {0, L"", true, 0, 0},           {2, L"", true, -1, 0},             {2, L"PPTP,L2TP", false, -1, 0},
      {7, L"pptp", false, -1, 0},
  };
  for (const Case& c : cases) {
    TypeBoxes boxes = InitialTypeBoxes(c.vpnType);
    VpnServerInfo s;
    s.protocols = c.protocols;
    EXPECT_EQ(ApplyServerToTypeBoxes(s, boxes), c.tell) << c.protocols;
    EXPECT_TRUE(boxes.enabled[0]);
    EXPECT_EQ(boxes.checked, c.checked) << c.vpnType << " " << c.protocols;
    EXPECT_EQ(ChosenVpnType(boxes), c.chosen) << c.vpnType << " " << c.protocols;
  }
  // A box checked but disabled does not count.
  TypeBoxes boxes;
  boxes.checked = 2;
  boxes.enabled[2] = false;
  EXPECT_EQ(ChosenVpnType(boxes), 0);
}

TEST_F(PolicyChooser, ConnectChecksInOrder) {
  const std::vector<RouteRow> routes = {{{1, 0}, L"For All"}, {{2, 0}, L"For Application"}, {{1001, 3}, L"Asia"}};
  VpnServerInfo server;
  server.id = 42;
  server.host = L"10.0.0.42";
  server.categories = {L"usa"};
  server.icmpResult = 17;
  TypeBoxes boxes;
  boxes.checked = 2;
  struct Case {
    const char* name;
    int route;
    bool bindActive;
    const VpnServerInfo* server;
    ConnectOutcome outcome;
    const char* message;
    bool writeRoute, writeServer;
    bool usable = true;  // the module file loads with its exports
  } cases[] = {
      {"no route", -1, true, &server, ConnectOutcome::NoRoute, "YouHavenotChosenVpnRoute", false, false},
      {"route out of range", 3, true, &server, ConnectOutcome::NoRoute, "YouHavenotChosenVpnRoute", false, false},
      {"per app without bind module", 1, false, &server, ConnectOutcome::NeedFullVersion,
       "AcceleratorModuleIsNotRegisteredGetFullVersion", false, false},
      {"per app without bind module or server", 1, false, nullptr, ConnectOutcome::NeedFullVersion,
       "AcceleratorModuleIsNotRegisteredGetFullVersion", false, false},
      {"no server", 2, false, nullptr, ConnectOutcome::NoServer, "YouHavenotChosenVpnServer", true, false},
      {"per app with bind module", 1, true, &server, ConnectOutcome::Connect, nullptr, true, true},
      // Connecting would route nothing: said with the module's own words.
      {"per app, the module missing or broken", 1, false, &server, ConnectOutcome::BindModuleUnusable,
       "BindModuleCannotBeLoaded", false, false, false},
      {"per app, active though the file is gone now", 1, true, &server, ConnectOutcome::Connect, nullptr, true, true,
       false},
      {"listed route, the module missing", 2, false, &server, ConnectOutcome::Connect, nullptr, true, true, false},
      {"listed route", 2, false, &server, ConnectOutcome::Connect, nullptr, true, true},
  };
  for (const Case& c : cases) {
    const ConnectCheck check = CheckConnect(routes, c.route, c.bindActive, c.server, 1, boxes, c.usable);
    EXPECT_EQ(check.outcome, c.outcome) << c.name;
    EXPECT_STREQ(check.messageKey, c.message) << c.name;
    EXPECT_EQ(check.writeRoute, c.writeRoute) << c.name;
    EXPECT_EQ(check.writeServer, c.writeServer) << c.name;
    if (c.writeRoute) {
      EXPECT_EQ(check.lastVpnRouteDefiner, routes[c.route].choice.definer) << c.name;
      EXPECT_EQ(check.lastVpnRouteInternalIndex, routes[c.route].choice.internalIndex) << c.name;
    }
    if (c.writeServer) {
      EXPECT_EQ(check.lastVpnServerId, 42) << c.name;
      EXPECT_EQ(check.lastVpnTabGroupIndex, 1) << c.name;
      EXPECT_EQ(check.vpnType, 2) << c.name;
      EXPECT_EQ(check.server.host, L"10.0.0.42") << c.name;
      EXPECT_EQ(check.server.categories, server.categories) << c.name;
      EXPECT_EQ(check.server.icmpResult, 17) << c.name;
      EXPECT_EQ(check.route.definer, routes[c.route].choice.definer) << c.name;
    }
  }
}

}  // namespace
