#include "vpn/windows_vpn.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fake_clock.h"
#include "fakes/fake_forward_table.h"
#include "fakes/fake_ras_api.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"

namespace {

using Steps = std::vector<CFakeRasApi::Step>;

StateTriple Triple(const CGeneralVpn& vpn) { return vpn.GetStatus(); }

TEST(DialupEntry, OptionsFollowTypeEncryptionAndRouteMode) {
  struct Case {
    std::int32_t type;
    bool mppe;
    std::int32_t mode;
    std::uint32_t options;
    std::uint32_t strategy;
  } cases[] = {
      {1, true, 2, 0x25141800, 1},  {1, false, 2, 0x3d140000, 1}, {2, true, 2, 0x3d140000, 3},
      {2, false, 3, 0x3d140000, 3}, {1, true, 1, 0x25141810, 1},  {1, false, 1, 0x3d140010, 1},
      {2, true, 1, 0x3d140010, 3},
  };
  for (const Case& c : cases) {
    ras::Entry entry;
    std::memset(&entry, 0xAB, sizeof entry);
    ASSERT_TRUE(BuildDialupEntry(c.type, c.mppe, c.mode, L"vpn.example.test", entry));
    EXPECT_EQ(entry.options, c.options) << c.type << c.mppe << c.mode;
    EXPECT_EQ(entry.vpnStrategy, c.strategy);
    EXPECT_EQ(entry.size, 5616u);
    EXPECT_EQ(entry.options2, 0x30u);
    EXPECT_EQ(entry.netProtocols, 4u);
    EXPECT_EQ(entry.framingProtocol, 1u);
    EXPECT_EQ(entry.entryType, 2u);
    EXPECT_EQ(entry.encryptionType, 3u);
    EXPECT_EQ(ras::ReadText(entry.localPhoneNumber), L"vpn.example.test");
    EXPECT_EQ(ras::ReadText(entry.deviceType), L"vpn");
    EXPECT_EQ(ras::ReadText(entry.deviceName), L"Quillnet");
    // Everything not named is zero.
    EXPECT_EQ(entry.countryId, 0u);
    EXPECT_EQ(entry.ipAddress, 0u);
    EXPECT_EQ(entry.script[0], 0);
    EXPECT_EQ(entry.options3, 0u);
    EXPECT_EQ(entry.redialPause, 0u);
  }
  ras::Entry entry;
  EXPECT_FALSE(BuildDialupEntry(3, true, 1, L"h", entry));
  EXPECT_FALSE(BuildDialupEntry(0, true, 1, L"h", entry));
}

TEST(DialupEntry, TextsAreCutToTheirFieldsAndTerminated) {
  ras::Entry entry;
  ASSERT_TRUE(BuildDialupEntry(1, true, 2, std::wstring(300, L'h'), entry));
  EXPECT_EQ(ras::ReadText(entry.localPhoneNumber), std::wstring(128, L'h'));
  EXPECT_EQ(entry.localPhoneNumber[128], 0);

  ras::DialParams params;
  BuildDialParams(entry, L"user\u00e9", std::wstring(400, L'p'), 0x1234, params);
  EXPECT_EQ(params.size, sizeof(void*) == 8 ? 2108u : 2104u);
  EXPECT_EQ(ras::ReadText(params.entryName), L"Quillnet");
  EXPECT_EQ(ras::ReadText(params.phoneNumber), std::wstring(128, L'h'));
  EXPECT_EQ(ras::ReadText(params.callbackNumber), L"*");
  EXPECT_EQ(ras::ReadText(params.userName), L"user\u00e9");
  EXPECT_EQ(ras::ReadText(params.password), std::wstring(256, L'p'));
  EXPECT_EQ(ras::ReadText(params.domain), L"");
  EXPECT_EQ(params.subEntry, 0u);
  const std::uintptr_t callbackId = params.callbackId;  // packed: no reference to it
  EXPECT_EQ(callbackId, 0x1234u);

  // A character outside the basic plane takes two units and is never split.
  char16_t small[4];
  ras::CopyText(small, L"ab\U0001F600");
  EXPECT_EQ(small[2], 0);
  ras::CopyText(small, L"a\U0001F600");
  EXPECT_EQ(ras::ReadText(small), L"a\U0001F600");
}

TEST(DialupNotification, StatesBecomeConnectionStates) {
  using A = RasAction;
  struct Case {
    std::uint32_t rasState, rasError;
    A action;
    std::int32_t state, error, detail;
  } cases[] = {
      {0x2001, 0, A::Report, 1, 0, 0},     {0x2001, 619, A::Report, 1, 1, 619}, {2, 0, A::Report, 4, 0, 0},
      {2, 678, A::Report, 4, 1, 678},      {5, 0, A::Report, 5, 0, 0},          {14, 0, A::Report, 6, 0, 0},
      {0x2000, 720, A::Report, 7, 1, 720}, {0x2000, 0, A::ConnectedSequence, 7, 0, 0},
      {7, 691, A::Report, 5, 1, 691},      {7, 0, A::Nothing, 0, 0, 0},          {0, 0, A::Nothing, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const RasDecision d = DecideRasNotification(c.rasState, c.rasError, GENERAL_VPN_STATE_AUTHENTICATE);
    EXPECT_EQ(d.action, c.action) << c.rasState << "/" << c.rasError;
    if (d.action == A::Report) {
      EXPECT_EQ((StateTriple{d.state, d.error, d.detail}), (StateTriple{c.state, c.error, c.detail}))
          << c.rasState << "/" << c.rasError;
    }
  }
}

class WindowsVpn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    SetUpHomeNetwork(table);
    table.dns = {{L"Ethernet", {{true, ParseIpv4(L"192.168.1.1")}}},
                 {L"Quillnet", {{true, ParseIpv4(L"10.8.0.1")}, {true, ParseIpv4(L"10.8.0.2")}}}};
  }
  std::unique_ptr<CWindowsVpn> Make(std::int32_t type = 1, std::int32_t mode = RouteModeListedRoutes) {
    auto vpn = std::make_unique<CWindowsVpn>(type, table, ras, clock, std::make_unique<CFakeRouteRequestServer>(table));
    vpn->SetCallback(&observer);
    vpn->SetRouteMode(mode);
    vpn->SetServerHost(L"203.0.113.9");
    vpn->SetCredentials(L"alice", L"secret");
    return vpn;
  }
  CFakeForwardTable table;
  CFakeRasApi ras;
  CFakeClock clock;
  CRecordingObserver observer;
};

TEST_F(WindowsVpn, EachRouteModeReachesAllDoneAndStopRestoresTheTable) {
  struct Case {
    std::int32_t mode;
    std::vector<std::wstring> routes;
    std::vector<ForwardRow> added;  // rows that must be there once connected
  } cases[] = {
      {RouteModeDefaultGateway,
       {L"192.168.0.0/16", L"198.51.100.0 mask 255.255.255.0"},
       {MakeRow(L"192.168.0.0", L"255.255.0.0", L"192.168.1.1", 2, 26),
        MakeRow(L"198.51.100.0", L"255.255.255.0", L"192.168.1.1", 2, 26)}},
      {RouteModeListedRoutes,
       {L"172.16.0.0/12"},
       {MakeRow(L"172.16.0.0", L"255.240.0.0", L"10.8.0.6", 7, 6),
        MakeRow(L"10.8.0.1", L"255.255.255.255", L"10.8.0.6", 7, 6),
        MakeRow(L"10.8.0.2", L"255.255.255.255", L"10.8.0.6", 7, 6)}},
      {RouteModePerApplication,
       {},
       {MakeRow(L"10.8.0.1", L"255.255.255.255", L"10.8.0.6", 7, 6),
        MakeRow(L"10.8.0.2", L"255.255.255.255", L"10.8.0.6", 7, 6)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    observer.Clear();
    const std::vector<ForwardRow> before = table.Rows();
    auto vpn = Make(2, c.mode);
    vpn->SetRoutes(c.routes);
    ras.Hold(true);
    ASSERT_EQ(vpn->Start(), 0);
    EXPECT_EQ(Triple(*vpn), (StateTriple{GENERAL_VPN_STATE_PREPARE, 0, 0}));
    ras.Hold(false);
    ras.WaitIdle();
    EXPECT_EQ(observer.Seen(), (std::vector<StateTriple>{{4, 0, 0}, {5, 0, 0}, {6, 0, 0}, {10, 0, 0}, {8, 0, 0}}));
    EXPECT_EQ(vpn->GetLocalIp(), L"10.8.0.6");
    EXPECT_EQ(vpn->GetDns1(), L"10.8.0.1");
    EXPECT_EQ(vpn->GetDns2(), L"10.8.0.2");
    for (const ForwardRow& row : c.added) EXPECT_TRUE(table.Has(row)) << FormatIpv4(row.destination);
    EXPECT_EQ(table.CountRows(), before.size() + c.added.size());

    const RasHandle handle = vpn->Connection();
    ASSERT_NE(handle, nullptr);
    observer.Clear();
    EXPECT_EQ(vpn->Stop(), 0);
    EXPECT_EQ(observer.Seen(), (std::vector<StateTriple>{{9, 0, 0}}));
    EXPECT_EQ(Triple(*vpn), (StateTriple{GENERAL_VPN_STATE_DISCONNECTED, 0, 0}));
    EXPECT_FALSE(ras.IsActive(handle));
    EXPECT_EQ(vpn->Connection(), nullptr);
    EXPECT_EQ(table.Rows(), before);
  }
}

TEST_F(WindowsVpn, ProgressFailuresArriveAsInternalErrorsWithTheNumber) {
  struct Case {
    const char* what;
    Steps script;
    std::vector<StateTriple> seen;
  } cases[] = {
      {"authentication refused", {{2, 0}, {5, 0}, {7, 691}}, {{4, 0, 0}, {5, 0, 0}, {5, 1, 691}}},
      {"hung up while connecting", {{2, 0}, {0x2001, 619}}, {{4, 0, 0}, {1, 1, 619}}},
      {"device failure", {{2, 678}}, {{4, 1, 678}}},
      {"connected with an error", {{2, 0}, {0x2000, 720}}, {{4, 0, 0}, {7, 1, 720}}},
  };
  for (const Case& c : cases) {
    observer.Clear();
    ras.dialScript = c.script;
    auto vpn = Make();
    ASSERT_EQ(vpn->Start(), 0) << c.what;
    ras.WaitIdle();
    EXPECT_EQ(observer.Seen(), c.seen) << c.what;
    const std::vector<ForwardRow> rows = table.Rows();
    vpn->Stop();
    EXPECT_EQ(table.Rows(), rows) << c.what;
  }
}

TEST_F(WindowsVpn, ReportShowsTheSystemTextOfTheDetail) {
  ras.dialScript = {{2, 0}, {5, 0}, {7, 691}};
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  EXPECT_EQ(vpn->GetReport(),
            L"State:Authenticating ...\r\nError:VPN Internal Error\r\nDetail:[system text 691]\r\n");
  EXPECT_EQ(vpn->GetErrorDetailText(633), L"[system text 633]Restarting your system may resolve this problem.");
  EXPECT_EQ(vpn->GetErrorDetailText(692), L"[system text 692]Restarting your system may resolve this problem.");
  EXPECT_EQ(vpn->GetErrorText(9), L"Creating VPN entry failed");
  EXPECT_EQ(vpn->GetErrorText(10), L"Starting dialing failed");
  EXPECT_EQ(vpn->GetErrorText(8), L"Unknown error");
  EXPECT_EQ(vpn->GetErrorText(11), L"Unknown error");
  EXPECT_EQ(vpn->GetErrorText(4), L"Detecting local IP failed");
  EXPECT_EQ(vpn->GetTypeName(), L"PPTP");
  vpn->Stop();
}

TEST_F(WindowsVpn, ProjectionFailureLeavesTheRoutesAlone) {
  const std::vector<ForwardRow> before = table.Rows();
  ras.projectionResult = 731;
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  EXPECT_EQ(observer.Seen().back(), (StateTriple{7, 4, 731}));
  EXPECT_EQ(table.Rows(), before);
  vpn->Stop();
}

TEST_F(WindowsVpn, ProjectionIsReadAgainWithTheSizeTheServiceAsksFor) {
  ras.projectionBytes = 96;
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  EXPECT_EQ(observer.Seen().back(), (StateTriple{8, 0, 0}));
  EXPECT_EQ(ras.Seen().projectionRecordBytes, (std::vector<std::uint32_t>{80, 96}));
  vpn->Stop();
}

TEST_F(WindowsVpn, StartFailuresAreReportedInTheFieldsOnly) {
  struct Case {
    const char* what;
    std::int32_t type;
    bool noDefaultRoute;
    std::uint32_t entryResult, dialResult;
    std::int32_t rc;
    StateTriple fields;
    std::size_t dials;
  } cases[] = {
      {"no default route", 1, true, 0, 0, 3, {2, 3, 13}, 0},
      {"unknown type", 3, false, 0, 0, 87, {2, 0, 0}, 0},
      {"entry refused", 2, false, 621, 0, 9, {3, 9, 621}, 0},
      {"dial refused", 1, false, 0, 623, 10, {3, 10, 623}, 1},
  };
  for (const Case& c : cases) {
    CFakeForwardTable t;
    if (!c.noDefaultRoute) SetUpHomeNetwork(t);
    CFakeRasApi r;
    r.entryResult = c.entryResult;
    r.dialResult = c.dialResult;
    CWindowsVpn vpn(c.type, t, r, clock, std::make_unique<CFakeRouteRequestServer>(t));
    vpn.SetCallback(&observer);
    vpn.SetServerHost(L"203.0.113.9");
    EXPECT_EQ(vpn.Start(), c.rc) << c.what;
    EXPECT_EQ(Triple(vpn), c.fields) << c.what;
    EXPECT_EQ(r.Seen().dials.size(), c.dials) << c.what;
    r.WaitIdle();
    vpn.SetCallback(nullptr);
  }
  EXPECT_TRUE(observer.Seen().empty());
}

TEST_F(WindowsVpn, AHandleLeftByAFailedDialIsHungUpByStop) {
  ras.dialResult = 623;
  ras.handleOnFailedDial = true;
  auto vpn = Make();
  EXPECT_EQ(vpn->Start(), 10);
  const RasHandle handle = vpn->Connection();
  ASSERT_NE(handle, nullptr);
  vpn->Stop();
  EXPECT_FALSE(ras.IsActive(handle));
}

TEST_F(WindowsVpn, PreSharedKeyIsStoredBeforeDiallingOnlyWhenGiven) {
  for (const std::wstring key : {L"", L"k3y"}) {
    CFakeRasApi r;
    CWindowsVpn vpn(2, table, r, clock, std::make_unique<CFakeRouteRequestServer>(table));
    vpn.preSharedKey = key;
    vpn.SetServerHost(L"203.0.113.9");
    ASSERT_EQ(vpn.Start(), 0);
    r.WaitIdle();
    const CFakeRasApi::Record seen = r.Seen();
    ASSERT_EQ(seen.credentials.size(), key.empty() ? 0u : 1u);
    if (!key.empty()) {
      EXPECT_EQ(seen.credentials[0].size, 1068u);
      EXPECT_EQ(seen.credentials[0].mask, 0x10u);
      EXPECT_EQ(ras::ReadText(seen.credentials[0].password), key);
      EXPECT_EQ(ras::ReadText(seen.credentials[0].userName), L"");
    }
    ASSERT_EQ(seen.entryNames, (std::vector<std::wstring>{L"Quillnet"}));
    EXPECT_EQ(ras::ReadText(seen.dials.at(0).userName), L"");
    vpn.Stop();
  }
}

TEST_F(WindowsVpn, StartHangsUpTheLastLeftoverConnectionOfOurEntry) {
  const RasHandle first = ras.AddConnection(L"Quillnet");
  const RasHandle other = ras.AddConnection(L"Office");
  const RasHandle last = ras.AddConnection(L"Quillnet");
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  const CFakeRasApi::Record seen = ras.Seen();
  // One record's room first, then what the service asked for.
  EXPECT_EQ(seen.enumerationBuffers,
            (std::vector<std::uint32_t>{sizeof(ras::Connection), 3 * sizeof(ras::Connection)}));
  ASSERT_EQ(seen.hangUps, (std::vector<RasHandle>{last}));
  EXPECT_TRUE(ras.IsActive(first));
  EXPECT_TRUE(ras.IsActive(other));
  EXPECT_FALSE(ras.IsActive(last));
  vpn->Stop();
}

TEST_F(WindowsVpn, EnumerationGivesUpAfterFiveAttempts) {
  ras.AddConnection(L"Quillnet");
  ras.enumerationAlwaysTooSmall = true;
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  EXPECT_EQ(ras.Seen().enumerations, 5);
  EXPECT_TRUE(ras.Seen().hangUps.empty());
  vpn->Stop();
}

TEST_F(WindowsVpn, WaitingForTheHangUpPollsEvery100MsForAtMost3s) {
  struct Case {
    int queriesBeforeGone;
    bool neverGone;
    std::uint32_t slept;
  } cases[] = {{0, false, 0}, {3, false, 300}, {0, true, 3000}};
  for (const Case& c : cases) {
    CFakeRasApi r;
    CFakeClock k;
    r.statusQueriesBeforeGone = c.queriesBeforeGone;
    r.neverGone = c.neverGone;
    CWindowsVpn vpn(1, table, r, k, std::make_unique<CFakeRouteRequestServer>(table));
    vpn.SetServerHost(L"203.0.113.9");
    ASSERT_EQ(vpn.Start(), 0);
    r.WaitIdle();
    vpn.Stop();
    EXPECT_EQ(k.Slept(), c.slept) << c.queriesBeforeGone << c.neverGone;
    for (std::uint32_t s : k.Sleeps()) EXPECT_EQ(s, 100u);
  }
}

TEST_F(WindowsVpn, StatisticsAndTheirFailure) {
  ras.bytesSent = 1234;
  ras.bytesReceived = 5678;
  auto vpn = Make();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  std::uint32_t sent = 0, received = 0;
  EXPECT_EQ(vpn->GetStatistics(sent, received), 0);
  EXPECT_EQ(sent, 1234u);
  EXPECT_EQ(received, 5678u);
  EXPECT_EQ(ras.Seen().statisticsSizes.back(), 60u);
  ras.statisticsResult = 6;
  const std::size_t notified = observer.Seen().size();
  EXPECT_EQ(vpn->GetStatistics(sent, received), 1);
  EXPECT_EQ(vpn->GetError(), 1);
  EXPECT_EQ(vpn->GetErrorDetail(), 6);
  EXPECT_EQ(observer.Seen().size(), notified);
  vpn->Stop();
}

// The service's thread reports a drop while the owner reads the statistics:
// the drop must survive the read, whether the read works or fails.
TEST_F(WindowsVpn, StatisticsLeaveTheStateToTheNotifications) {
  struct Case {
    const char* name;
    bool dropMeanwhile;
    std::uint32_t statisticsResult;
    std::int32_t rc;
    StateTriple after;
  } cases[] = {
      {"read", false, 0, 0, {GENERAL_VPN_STATE_ALL_DONE, 0, 0}},
      {"read while dropped", true, 0, 0, {GENERAL_VPN_STATE_DISCONNECTED, 1, 628}},
      {"failed read while dropped", true, 6, 1, {GENERAL_VPN_STATE_DISCONNECTED, 1, 628}},
      {"failed read", false, 6, 1, {GENERAL_VPN_STATE_ALL_DONE, 1, 6}},
  };
  for (const Case& c : cases) {
    auto vpn = Make();
    ASSERT_EQ(vpn->Start(), 0);
    ras.WaitIdle();
    ASSERT_EQ(vpn->GetState(), GENERAL_VPN_STATE_ALL_DONE) << c.name;
    const RasHandle handle = vpn->Connection();
    bool dropPending = c.dropMeanwhile;
    ras.duringStatistics = [&] {
      if (!dropPending) return;
      dropPending = false;
      vpn->OnRasNotification(handle, kRasStateDisconnected, 628);
    };
    ras.statisticsResult = c.statisticsResult;
    std::uint32_t sent = 0, received = 0;
    EXPECT_EQ(vpn->GetStatistics(sent, received), c.rc) << c.name;
    EXPECT_EQ(Triple(*vpn), c.after) << c.name;
    ras.duringStatistics = nullptr;
    ras.statisticsResult = 0;
    vpn->Stop();
  }
}

// A notification the service sends after its connection is gone: the
// object may be deleted, so it must reach nobody.
TEST_F(WindowsVpn, LateNotificationsReachNoDeletedConnection) {
  for (bool stopFirst : {true, false}) {
    auto vpn = Make();
    ASSERT_EQ(vpn->Start(), 0);
    ras.WaitIdle();
    const CFakeRasApi::Record before = ras.Seen();
    ras.Hold(true);
    ras.Notify(kRasStateDisconnected, 628);
    if (stopFirst) vpn->Stop();
    vpn->SetCallback(nullptr);
    vpn.reset();
    ras.Hold(false);
    ras.WaitIdle();
    EXPECT_EQ(ras.Seen().undelivered, before.undelivered + 1) << stopFirst;
    EXPECT_GT(ras.Seen().forgets, before.forgets) << stopFirst;
  }
}

TEST_F(WindowsVpn, ADropAfterConnectingIsReportedAndALateSuccessAfterStopAddsNothing) {
  auto vpn = Make(1, RouteModeListedRoutes);
  vpn->SetRoutes({L"172.16.0.0/12"});
  const std::vector<ForwardRow> before = table.Rows();
  ASSERT_EQ(vpn->Start(), 0);
  ras.WaitIdle();
  ras.Notify(0x2001, 0);
  ras.WaitIdle();
  EXPECT_EQ(observer.Seen().back(), (StateTriple{1, 0, 0}));
  vpn->Stop();
  observer.Clear();
  ras.Notify(0x2000, 0);
  ras.WaitIdle();
  EXPECT_TRUE(observer.Seen().empty());
  EXPECT_EQ(table.Rows(), before);
}

}  // namespace

namespace {

// Stop on the owner's thread while the service's thread is bringing the
// connection up: whichever wins, nothing of the plan may stay behind.
TEST_F(WindowsVpn, StopRacingTheConnectedSequenceLeavesNoRoute) {
  const std::vector<ForwardRow> before = table.Rows();
  for (int round = 0; round < 50; ++round) {
    auto vpn = Make(1, RouteModeListedRoutes);
    vpn->SetRoutes({L"172.16.0.0/12", L"198.51.100.0/24"});
    ras.Hold(true);
    ASSERT_EQ(vpn->Start(), 0);
    ras.Hold(false);
    vpn->Stop();
    ras.WaitIdle();
    EXPECT_EQ(table.Rows(), before) << round;
    EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_DISCONNECTED) << round;
  }
}

}  // namespace
