#include "app/connect_controller.h"
#include "app/connect_factory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fakes/fake_forward_table.h"
#include "platform/text_parse.h"
#include "fakes/fake_ras_api.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"
#include "vpn/windows_vpn.h"

namespace {

// A connection kind that the test steers: it may fail its start at once,
// and its counters are the test's.
class CScriptedVpn : public CTestVpn {
 public:
  CScriptedVpn(IForwardTable& table, std::int32_t kind, bool* deleted)
      : CTestVpn(table, std::make_unique<CFakeRouteRequestServer>(table), kind), deleted_(deleted) {}
  ~CScriptedVpn() override {
    if (deleted_) *deleted_ = true;
  }
  std::int32_t Start() override {
    ++starts;
    const std::int32_t result = CGeneralVpn::Start();
    if (result != 0 || !startFails) return result;
    StoreState(GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_CONNECT, 0);
    return GENERAL_VPN_ERROR_CONNECT;
  }
  std::int32_t GetStatistics(std::uint32_t& s, std::uint32_t& r) override {
    s = sent;
    r = received;
    return statisticsFail ? 1 : 0;
  }
  void Complete() {
    Learn(L"10.8.0.6");
    SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  }
  bool startFails = false;
  bool statisticsFail = false;
  std::uint32_t sent = 0, received = 0;
  int starts = 0;

 private:
  bool* deleted_;
};

class CFakeFactory : public IConnectionFactory {
 public:
  explicit CFakeFactory(IForwardTable& table) : table_(table) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo&) override {
    auto vpn = std::make_unique<CScriptedVpn>(table_, type, &deleted[made.size()]);
    vpn->startFails = failAtStart[type];
    made.push_back(vpn.get());
    return vpn;
  }
  std::vector<CScriptedVpn*> made;
  std::map<std::int32_t, bool> failAtStart;
  std::map<std::size_t, bool> deleted;

 private:
  IForwardTable& table_;
};

class CFakeConnectView : public IConnectView {
 public:
  void SetStatusLine(const std::wstring& text) override { status.push_back(text); }
  void EnableConnect(bool enabled) override { connectEnabled = enabled; }
  void EnableDisconnect(bool enabled) override { disconnectEnabled = enabled; }
  void SetTrayIcon(int id) override { trayIcon = id; }
  void ShowBalloon(const std::wstring& text) override { balloons.push_back(text); }
  void ShowMainWindow(bool shown) override { windowShown = shown; }
  bool AskYesNo(const std::wstring& text, BoxIcon, bool) override {
    questions.push_back(text);
    if (duringQuestion) duringQuestion();
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  void ShowBox(const std::wstring& text, BoxIcon) override { boxes.push_back(text); }
  void ShowAccelerateDialog() override { ++accelerateShown; }
  void DestroyAccelerateDialog() override { ++accelerateDestroyed; }
  void DestroyWindow() override { ++windowDestroyed; }
  void RunBlocked(IOperation&, std::uint32_t timerMs) override { blockedTimers.push_back(timerMs); }

  std::vector<std::wstring> status, balloons, questions, boxes;
  std::vector<bool> answers;
  std::function<void()> duringQuestion;
  std::vector<std::uint32_t> blockedTimers;
  bool connectEnabled = true, disconnectEnabled = false, windowShown = true;
  int trayIcon = 0, accelerateShown = 0, accelerateDestroyed = 0, windowDestroyed = 0;
};

class CFakeConnectSystem : public IConnectSystem {
 public:
  void PrepareSystemForL2tp(const std::wstring& key) override { l2tpKeys.push_back(key); }
  bool OpenVpnComponentPresent() override { return componentPresent; }
  int CompareOpenVpnVersion(const std::wstring& required) override { return required == L"9.9" ? 1 : -1; }
  std::wstring ForceOpenVpnUpdateVersion() override { return L""; }
  bool IsTapAdapterReady() override { return tapReady; }
  std::unique_ptr<IOperation> InstallTapDriverOperation() override {
    struct Install : IOperation {
      void Run(IBlockedOperationHost&) override {}
      void OnTimer() override {}
    };
    return std::make_unique<Install>();
  }
  void DownloadAndRunUpdate(const std::string& loginReply) override { updateReplies.push_back(loginReply); }
  std::int32_t DebugConnectVpn() override { return debugConnect; }
  VpnProxy Proxy() override { return {}; }
  void StoreLastSuccessVpnType(std::int32_t type) override { lastSuccess.push_back(type); }
  void PutVpnBindingFirst() override {}
  void FlushDnsCache() override { ++flushes; }
  bool DisableDhcpOnVpnAdapter(const std::wstring&) override { return dhcpEndsConnection; }
  bool VpnBindStart(std::uint32_t flags, std::uint32_t address) override {
    binds.push_back({flags, address});
    return bindModulePresent;
  }
  void VpnBindStop() override { ++bindStops; }

  std::vector<std::wstring> l2tpKeys;
  bool componentPresent = true, tapReady = true, dhcpEndsConnection = false, bindModulePresent = true;
  std::vector<std::string> updateReplies;
  int flushes = 0, bindStops = 0;
  std::int32_t debugConnect = 0;
  std::vector<std::int32_t> lastSuccess;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> binds;
};

class CFakeClock : public IClock {
 public:
  Tick Now() override { return now; }
  void Sleep(std::uint32_t ms) override {
    slept += ms;
    now += ms;
  }
  Tick now = 5000;
  std::uint32_t slept = 0;
};

class ConnectFlow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override { SetUpHomeNetwork(table); }

  ConnectPlan Plan(std::vector<std::int32_t> types, std::int32_t routeMode = RouteModeListedRoutes,
                   std::vector<std::wstring> routes = {L"172.16.0.0/12"}) {
    ConnectPlan plan;
    plan.server.host = L"198.51.100.7";
    plan.server.ipsecSharedKey = L"psk";
    plan.routeMode = routeMode;
    plan.routeDefiner = routeMode == RouteModePerApplication ? 2 : 1;
    plan.routeLines = std::move(routes);
    plan.vpnTypes = std::move(types);
    plan.account = L"alice";
    plan.password = L"secret";
    return plan;
  }
  void Pump() {
    while (auto message = queue.TryTake()) controller.OnMessage(*message);
  }
  CScriptedVpn& Made(std::size_t i) { return *factory.made.at(i); }

  CFakeForwardTable table;
  CMessageQueue queue;
  CFakeConnectView view;
  CFakeFactory factory{table};
  CFakeConnectSystem system;
  CFakeClock clock;
  CConnectController controller{queue, view, factory, system, clock};
};

TEST_F(ConnectFlow, PptpFailingThenL2tpSucceedingRecordsOneReportAndRemembersL2tp) {
  controller.StartConnect(Plan({1, 2}));
  ASSERT_EQ(factory.made.size(), 1u);
  EXPECT_EQ(Made(0).GetUsername(), L"alice");
  EXPECT_EQ(Made(0).GetServerHost(), L"198.51.100.7");
  Made(0).SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 691);
  Pump();
  ASSERT_EQ(factory.made.size(), 2u);
  ASSERT_EQ(controller.ErrorReports().size(), 1u);
  EXPECT_EQ(controller.ErrorReports()[0].rfind(L"PPTP: ", 0), 0u);
  EXPECT_EQ(system.l2tpKeys, std::vector<std::wstring>{L"psk"});
  EXPECT_EQ(controller.Phase(), kPhaseConnecting);
  Made(1).Complete();
  Pump();
  EXPECT_EQ(view.status.back(), L"Login succeeded");
  EXPECT_EQ(system.lastSuccess, std::vector<std::int32_t>{2});
  EXPECT_EQ(controller.Phase(), kPhaseConnected);
  EXPECT_EQ(view.trayIcon, kTrayIconConnectedQuiet);
  EXPECT_FALSE(view.windowShown);
  EXPECT_TRUE(view.boxes.empty());
  controller.OnDisconnect();
  EXPECT_EQ(view.status.back(), L"VPN has already been disconnected.");
  EXPECT_EQ(table.Rows().size(), [] {
    CFakeForwardTable home;
    SetUpHomeNetwork(home);
    return home.Rows().size();
  }());
}

// The login's reply is deleted when the login returns, before a type that
// follows an asynchronous failure starts: what OpenVPN needs of it travels
// in the plan.
TEST_F(ConnectFlow, OpenVpnAfterAFailedTypeStillSeesTheRequiredVersion) {
  ConnectPlan plan = Plan({1, 3});
  plan.requiredOpenVpnVersion = L"9.9";
  plan.loginReply = "[VPN]\r\nUpdateURL=https://example.test/\r\n";
  controller.StartConnect(plan);
  ASSERT_EQ(factory.made.size(), 1u);
  EXPECT_TRUE(view.questions.empty());
  Made(0).SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 691);
  Pump();
  ASSERT_EQ(view.questions.size(), 1u) << "the update question, as for a first type";
  EXPECT_EQ(system.updateReplies, std::vector<std::string>{plan.loginReply});
  EXPECT_EQ(view.windowDestroyed, 1);
}

TEST_F(ConnectFlow, ATunnelEndingBeforeItIsUpTriesTheNextTypeThenGivesUp) {
  controller.StartConnect(Plan({3, 1}));
  ASSERT_EQ(factory.made.size(), 1u);
  // openvpn ended on its own: no error, only the end.
  Made(0).SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0);
  Pump();
  ASSERT_EQ(factory.made.size(), 2u) << "the next type is tried";
  EXPECT_EQ(controller.Phase(), kPhaseConnecting);
  Made(1).SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0);
  Pump();
  EXPECT_EQ(controller.Phase(), kPhaseIdle) << "no type left: the attempt ends";
  EXPECT_TRUE(view.connectEnabled);
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(controller.ErrorReports().size(), 2u);
}

TEST_F(ConnectFlow, AllTypesFailingShowOneBoxWithEveryReport) {
  factory.failAtStart = {{1, true}, {2, true}, {3, true}};
  controller.StartConnect(Plan({1, 2, 3}));
  ASSERT_EQ(factory.made.size(), 3u);
  ASSERT_EQ(view.boxes.size(), 1u);
  const std::wstring& box = view.boxes[0];
  std::wstring expected;
  for (const std::wstring& report : controller.ErrorReports()) expected += report + L"\r\n\r\n";
  EXPECT_EQ(box, expected);
  EXPECT_EQ(controller.ErrorReports().size(), 3u);
  for (const wchar_t* name : {L"PPTP: ", L"L2TP: ", L"OpenVPN: "}) EXPECT_NE(box.find(name), std::wstring::npos);
  EXPECT_TRUE(view.connectEnabled);
  EXPECT_FALSE(view.disconnectEnabled);
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_EQ(controller.Connection(), nullptr);
}

TEST_F(ConnectFlow, FailedRoutesQuestionShowsTenLinesAndActsOnTheAnswer) {
  std::vector<std::wstring> routes;
  for (int i = 1; i <= 12; ++i) routes.push_back(L"10." + std::to_wstring(i) + L".0.0 mask 255.0.255.0");
  struct Case {
    bool answer;
    int phase;
    const wchar_t* status;
  } cases[] = {{true, kPhaseConnected, L"Login succeeded(Routes partially modified)"},
               {false, kPhaseIdle, L"Can not modify network routes."}};
  for (const Case& c : cases) {
    view.questions.clear();
    view.answers = {c.answer};
    controller.StartConnect(Plan({3}, RouteModeListedRoutes, routes));
    factory.made.back()->Complete();
    Pump();
    ASSERT_EQ(view.questions.size(), 1u) << c.answer;
    const std::wstring& q = view.questions[0];
    EXPECT_NE(q.find(L"10.10.0.0 mask 255.0.255.0\r\n..."), std::wstring::npos) << q;
    EXPECT_EQ(q.find(L"10.11.0.0"), std::wstring::npos);
    EXPECT_EQ(q.rfind(L"Can not modify the following network routes, continue or not?\r\n10.1.0.0", 0), 0u);
    EXPECT_EQ(controller.Phase(), c.phase);
    EXPECT_EQ(view.status.back(), c.status);
    controller.OnDisconnect();
  }
}

TEST_F(ConnectFlow, DropByPhase) {
  // Before completion a drop is one more failed type.
  controller.StartConnect(Plan({3, 1}));
  Made(0).SetState(GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_CONNECT, 0);
  Pump();
  EXPECT_EQ(factory.made.size(), 2u);
  EXPECT_TRUE(view.boxes.empty());
  // After completion the monitor finds it gone and shows the detail box.
  Made(1).Complete();
  Pump();
  ASSERT_EQ(controller.Phase(), kPhaseConnected);
  Made(1).statisticsFail = true;
  controller.OnMonitorTick();
  EXPECT_EQ(view.status.back(), L"VPN is disconnected unexpectedly.");
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].rfind(L"Error:", 0), 0u);
  EXPECT_NE(view.boxes[0].find(L"\r\nDetail:"), std::wstring::npos);
  EXPECT_TRUE(view.windowShown);
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  // Its own later report finds no connection.
  Pump();
  EXPECT_EQ(view.boxes.size(), 1u);
  // A drop of a connecting attempt found by the monitor shows no box.
  controller.StartConnect(Plan({3}));
  factory.made.back()->statisticsFail = true;
  controller.OnMonitorTick();
  EXPECT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.status.back(), L"VPN is disconnected unexpectedly.");
}

TEST_F(ConnectFlow, DisconnectWhileConnectingIgnoresThatConnectionsLatePosts) {
  controller.StartConnect(Plan({1, 2}));
  Made(0).SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  Made(0).SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 691);
  controller.OnDisconnect();
  const std::size_t statusCount = view.status.size();
  Pump();  // both posts were queued before Disconnect
  EXPECT_EQ(view.status.size(), statusCount);
  EXPECT_EQ(factory.made.size(), 1u);  // no next type
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_TRUE(view.connectEnabled);
}

TEST_F(ConnectFlow, PostsCarryTheirConnectionsSerialNotOnlyItsAddress) {
  controller.StartConnect(Plan({1}));
  Made(0).SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  auto first = queue.TryTake();
  ASSERT_TRUE(first.has_value());
  controller.OnDisconnect();
  controller.StartConnect(Plan({1}));
  // The earlier serial with the new connection's address, as when the
  // allocator hands the same memory out again.
  PostedMessage reused = *first;
  reused.lParam = reinterpret_cast<std::intptr_t>(&Made(1));
  const std::size_t statusCount = view.status.size();
  EXPECT_TRUE(controller.OnMessage(reused));
  EXPECT_EQ(view.status.size(), statusCount);
  Made(1).SetState(GENERAL_VPN_STATE_CONNECT, 0, 0);
  Pump();
  EXPECT_EQ(view.status.size(), statusCount + 1);
  EXPECT_FALSE(controller.OnMessage({kWmUser + 3, 0, 0}));
}

TEST_F(ConnectFlow, RepeatedCompletionPostsFinishTheSetUpOnce) {
  controller.StartConnect(Plan({3}, RouteModePerApplication, {}));
  Made(0).Complete();
  Made(0).SetState(GENERAL_VPN_STATE_ALL_DONE, 0, 0);
  Made(0).SetState(GENERAL_VPN_STATE_ALL_DONE, 0, 0);
  ASSERT_GE(queue.Pending(), 3u);
  Pump();
  EXPECT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(system.lastSuccess.size(), 1u);
  ASSERT_EQ(system.binds.size(), 1u);
  EXPECT_EQ(system.binds[0].first, 8u);
  std::uint32_t address = 0;
  ASSERT_TRUE(ParseIpv4Strict(L"10.8.0.6", address));
  EXPECT_EQ(system.binds[0].second, address);
  EXPECT_EQ(view.accelerateShown, 1);
  controller.OnDisconnect();
  EXPECT_EQ(system.bindStops, 1);
  EXPECT_EQ(view.accelerateDestroyed, 1);
}

TEST_F(ConnectFlow, QuestionLeftOpenWhileTheConnectionDropsActsOnNothing) {
  std::vector<std::wstring> routes = {L"10.1.0.0 mask 255.0.255.0"};
  controller.StartConnect(Plan({3}, RouteModeListedRoutes, routes));
  view.answers = {true};
  view.duringQuestion = [&] {
    Made(0).statisticsFail = true;
    controller.OnMonitorTick();
  };
  Made(0).Complete();
  Pump();
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_EQ(view.status.back(), L"VPN is disconnected unexpectedly.");
}

TEST_F(ConnectFlow, CloseAndExit) {
  // Idle: no question.
  controller.OnClose();
  EXPECT_TRUE(view.questions.empty());
  EXPECT_EQ(view.windowDestroyed, 1);
}

TEST_F(ConnectFlow, CloseWhileConnectedAsksAndOnlyYesExits) {
  controller.StartConnect(Plan({3}));
  view.answers = {false, true};
  controller.OnClose();
  EXPECT_EQ(view.windowDestroyed, 0);
  EXPECT_NE(controller.Connection(), nullptr);
  controller.OnClose();
  EXPECT_EQ(view.questions.size(), 2u);
  EXPECT_EQ(view.windowDestroyed, 1);
  EXPECT_EQ(controller.Connection(), nullptr);
}

TEST_F(ConnectFlow, ExitDuringTheLoginsWaitWaitsForTheLogin) {
  controller.SetLoginBusy(true);
  controller.ExitClient();
  EXPECT_EQ(view.windowDestroyed, 0);
  EXPECT_TRUE(controller.ExitPending());
  controller.StartConnect(Plan({3}));  // the login's end must not start one now
  EXPECT_TRUE(factory.made.empty());
  controller.SetLoginBusy(false);
  EXPECT_EQ(view.windowDestroyed, 1);
}

TEST_F(ConnectFlow, ParkedConnectionIsDeletedNoSoonerThanASecondAfterItsStop) {
  controller.StartConnect(Plan({3}));
  controller.OnDisconnect();
  EXPECT_EQ(controller.ParkedCount(), 1u);
  clock.now += 999;
  controller.OnMonitorTick();
  EXPECT_FALSE(factory.deleted[0]);
  clock.now += 1;
  controller.OnMonitorTick();
  EXPECT_TRUE(factory.deleted[0]);
  // At the end the window waits out the rest of the second.
  controller.StartConnect(Plan({3}));
  controller.OnDisconnect();
  clock.now += 300;
  {
    CConnectController other{queue, view, factory, system, clock};
    other.StartConnect(Plan({3}));
  }
  EXPECT_EQ(clock.slept, 1000u);
  EXPECT_TRUE(factory.deleted[2]);
}

TEST_F(ConnectFlow, DebugConnectNoUsesTheRefusedNameForThatTypeOnly) {
  system.debugConnect = 1;
  view.answers = {false, true};
  controller.StartConnect(Plan({1, 2}));
  EXPECT_EQ(view.questions.at(0), L"PPTP?");
  EXPECT_EQ(Made(0).GetUsername(), L"bad_username");
  Made(0).SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_CONNECT, 691);
  Pump();
  EXPECT_EQ(view.questions.at(1), L"L2TP?");
  EXPECT_EQ(Made(1).GetUsername(), L"alice");
}

TEST_F(ConnectFlow, OpenVpnPreparation) {
  struct Case {
    bool present;
    const wchar_t* required;
    bool answer;
    bool tapReady;
    std::size_t questions;
    int updates;
    std::size_t made;
    std::size_t blocked;
  } cases[] = {
      {true, L"2.1", true, true, 0, 0, 1, 0},
      {false, L"2.1", false, true, 1, 0, 1, 0},   // No: tries anyway
      {true, L"9.9", true, true, 1, 1, 0, 0},     // Yes: update and exit
      {true, L"2.1", true, false, 0, 0, 1, 1},    // TAP install in the blocked dialog
  };
  for (const Case& c : cases) {
    CFakeConnectView v;
    CFakeFactory f{table};
    CFakeConnectSystem s;
    s.componentPresent = c.present;
    ConnectPlan plan = Plan({3});
    plan.requiredOpenVpnVersion = c.required;
    s.tapReady = c.tapReady;
    v.answers = {c.answer};
    CConnectController cc{queue, v, f, s, clock};
    cc.StartConnect(plan);
    EXPECT_EQ(v.questions.size(), c.questions) << c.required;
    EXPECT_EQ(static_cast<int>(s.updateReplies.size()), c.updates);
    EXPECT_EQ(f.made.size() - (c.updates ? 1 : 0), c.made);
    EXPECT_EQ(v.blockedTimers, std::vector<std::uint32_t>(c.blocked, kTapInstallTimerMs));
    EXPECT_EQ(v.windowDestroyed, c.updates);
    EXPECT_EQ(v.boxes.size(), c.tapReady ? 0u : 2u);  // the tip and "can not install"
    while (queue.TryTake()) {
    }
  }
}

TEST_F(ConnectFlow, UnknownTypeDhcpAndMissingBindModule) {
  controller.StartConnect(Plan({7, 3}));
  EXPECT_EQ(view.boxes, std::vector<std::wstring>{L"Unknown VPN Type"});
  EXPECT_TRUE(factory.made.empty());
  EXPECT_EQ(controller.Phase(), kPhaseIdle);
  EXPECT_TRUE(view.connectEnabled);

  // DHCP on a dial-up adapter ends the connection; OpenVPN is never asked.
  system.dhcpEndsConnection = true;
  for (std::int32_t type : {1, 3}) {
    controller.StartConnect(Plan({type}));
    factory.made.back()->Complete();
    Pump();
    EXPECT_EQ(controller.Phase(), type == 3 ? kPhaseConnected : kPhaseIdle) << type;
    controller.OnDisconnect();
  }

  // Without the bind module the box shows and the connection stays.
  system.dhcpEndsConnection = false;
  system.bindModulePresent = false;
  view.boxes.clear();
  controller.StartConnect(Plan({3}, RouteModePerApplication, {}));
  factory.made.back()->Complete();
  Pump();
  EXPECT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(controller.Phase(), kPhaseConnected);
  EXPECT_EQ(view.accelerateShown, 1);
}

TEST_F(ConnectFlow, TrayIconFollowsTheCounters) {
  controller.StartConnect(Plan({3}));
  Made(0).Complete();
  Pump();
  struct Step {
    std::uint32_t sent, received;
    int icon;
  } steps[] = {{10, 0, 134}, {10, 5, 136}, {11, 6, 133}, {11, 6, 135}};
  for (const Step& s : steps) {
    Made(0).sent = s.sent;
    Made(0).received = s.received;
    controller.OnMonitorTick();
    EXPECT_EQ(view.trayIcon, s.icon) << s.sent << " " << s.received;
  }
}

TEST(ConnectFactory, MakesEachTypeFromTheServersValues) {
  CFakeForwardTable table;
  CFakeRasApi ras;
  CFakeClock clock;
  // The process's own folder is an earlier one: the factory's wins, since
  // the component check that sets the process's runs after the connection is made.
  SetOpenVpnDirectory(L"C:\\old\\openvpn\\");
  CSystemConnectionFactory factory(table, ras, clock, L"C:\\Quillnet\\openvpn\\");
  VpnServerInfo server;
  server.pptpUseMppe = 0;
  server.ipsecSharedKey = L"psk";
  server.openVpn = L"proto udp";
  auto pptp = factory.Create(1, server);
  auto l2tp = factory.Create(2, server);
  auto open = factory.Create(3, server);
  ASSERT_TRUE(pptp && l2tp && open);
  EXPECT_EQ(pptp->GetTypeName(), L"PPTP");
  EXPECT_EQ(dynamic_cast<CWindowsVpn&>(*pptp).useMppe, 0);
  EXPECT_EQ(dynamic_cast<CWindowsVpn&>(*l2tp).preSharedKey, L"psk");
  EXPECT_EQ(l2tp->GetType(), 2);
  EXPECT_EQ(dynamic_cast<COpenVpn&>(*open).openVpnParams, L"proto udp");
  EXPECT_EQ(dynamic_cast<COpenVpn&>(*open).openVpnDirectory, L"C:\\Quillnet\\openvpn\\");
  SetOpenVpnDirectory(L"");
  EXPECT_EQ(factory.Create(0, server), nullptr);
  EXPECT_EQ(factory.Create(4, server), nullptr);
}

TEST(ConnectText, FailedRoutesList) {
  std::vector<std::wstring> eleven;
  for (int i = 0; i < 11; ++i) eleven.push_back(std::to_wstring(i));
  EXPECT_EQ(FailedRoutesList({}), L"");
  EXPECT_EQ(FailedRoutesList({L"a", L"b"}), L"a\r\nb");
  EXPECT_EQ(FailedRoutesList(std::vector<std::wstring>(eleven.begin(), eleven.begin() + 10)),
            L"0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9");
  EXPECT_EQ(FailedRoutesList(eleven), L"0\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n...");
}

}  // namespace
