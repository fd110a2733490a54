// Stop racing the worker's CONNECTED: whatever the interleaving, Stop
// returns with no route of ours left, no route request server running and,
// for openvpn, the reader finished.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "fakes/test_vpn.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

using namespace std::chrono_literals;

// Adds take a little while, so Stop often arrives in the middle of a plan.
class CSlowTable : public CFakeForwardTable {
 public:
  std::uint32_t AddForwardRow(const ForwardRow& row) override {
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    return CFakeForwardTable::AddForwardRow(row);
  }
  int delayUs = 50;
};

class CCountingObserver : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn* vpn) override {
    const VpnStatus s = vpn->GetStatus();
    if (s.state == GENERAL_VPN_STATE_RESTORE_ROUTE) restored = true;
    if (s.state == GENERAL_VPN_STATE_ALL_DONE && restored) doneAfterRestore = true;
  }
  std::atomic<bool> restored{false};
  std::atomic<bool> doneAfterRestore{false};
};

TEST(GeneralVpnStop, StopWhileThePlanIsBeingApplied) {
  LoadTextTable();
  std::mt19937 rng(42);
  std::vector<std::wstring> routes;
  for (int i = 0; i < 40; ++i) routes.push_back(L"10." + std::to_wstring(i) + L".0.0/16");
  int stoppedMidway = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    CSlowTable table;
    SetUpHomeNetwork(table);
    table.delayUs = static_cast<int>(rng() % 100);
    const std::vector<ForwardRow> before = table.Rows();
    auto server = std::make_unique<CFakeRouteRequestServer>(table);
    CFakeRouteRequestServer* fakeServer = server.get();
    CTestVpn vpn(table, std::move(server));
    CCountingObserver observer;
    vpn.SetCallback(&observer);
    const std::int32_t mode = round % 3 == 0 ? RouteModePerApplication : RouteModeListedRoutes;
    vpn.SetRouteMode(mode);
    vpn.SetRoutes(routes);
    ASSERT_EQ(vpn.Start(), 0);
    vpn.Learn(L"10.8.0.6");
    vpn.SetVpnDns(L"10.8.0.1", L"10.8.0.2");
    std::atomic<bool> go{false};
    std::thread worker([&] {
      while (!go.load()) std::this_thread::yield();
      vpn.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    });
    const auto wait = std::chrono::microseconds(rng() % 3000);
    go = true;
    std::this_thread::sleep_for(wait);
    vpn.Stop();
    // Whatever the worker still does after Stop has returned changes nothing.
    worker.join();
    if (table.adds() > 0 && table.adds() < static_cast<int>(routes.size()) + 2) ++stoppedMidway;
    EXPECT_EQ(table.Rows(), before);
    EXPECT_FALSE(fakeServer->IsRunning());
    EXPECT_FALSE(observer.doneAfterRestore);
    EXPECT_EQ(vpn.GetState(), GENERAL_VPN_STATE_DISCONNECTED);
    vpn.SetCallback(nullptr);
  }
  std::printf("[ measure  ] Stop came in the middle of a plan in %d of 200 rounds\n", stoppedMidway);
}

#ifndef _WIN32
// A clock that moves `step` each time it is read: Stop's grace for openvpn
// passes at the first look, or only after many real polls.
class CSteppingClock : public IClock {
 public:
  explicit CSteppingClock(Tick step) : step_(step) {}
  Tick Now() override { return now_.fetch_add(step_) + step_; }
  void Sleep(std::uint32_t ms) override { now_ += ms; }

 private:
  const Tick step_;
  std::atomic<Tick> now_{0};
};

// An openvpn that ignores the request to exit is ended once the grace has
// passed, and Stop returns with the reader gone, not leaving it to the
// destructor. What it had added on its tunnel's interface then goes too; an
// openvpn that exited in time cleaned up itself and nothing is touched.
TEST(OpenVpnStop, AnOpenVpnEndedByForceLeavesNothingOnItsTunnel) {
  LoadTextTable();
  struct Case {
    const char* name;
    bool ignoresTerm;
    Tick clockStep;  // a generous bound for the one that exits in time
  } cases[] = {{"exits when asked", false, 5}, {"ignores the request", true, kOpenVpnExitWaitMs}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTempDir dir;
    const std::filesystem::path program = dir.Path() / "openvpn";
    std::ofstream(program) << "#!/bin/sh\n"
                           << (c.ignoresTerm ? "trap '' TERM\n" : "")
                           << "echo \"PUSH: Received control message: 'PUSH_REPLY,ifconfig 10.8.0.6 255.255.255.0'\"\n"
                              "while :; do sleep 1; done\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    CFakeForwardTable table;
    table.AddAdapter(2, L"192.168.1.10", 25);
    table.AddAdapter(7, L"10.8.0.6", 5);
    table.PutRow(MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 25));
    ForwardRow subnet = MakeRow(L"10.8.0.0", L"255.255.255.0", L"10.8.0.6", 7, 261);
    subnet.protocol = 2;  // the system's own row for the interface
    table.PutRow(subnet);
    const ForwardRow openVpns = MakeRow(L"172.16.0.0", L"255.240.0.0", L"10.8.0.5", 7, 1);
    const ForwardRow journaled = MakeRow(L"192.0.2.0", L"255.255.255.0", L"10.8.0.5", 7, 1);
    const ForwardRow elsewhere = MakeRow(L"198.51.100.0", L"255.255.255.0", L"192.168.1.1", 2, 1);
    for (const ForwardRow& row : {openVpns, journaled, elsewhere}) table.PutRow(row);
    table.owned = {journaled};

    CSteppingClock clock(c.clockStep);
    COpenVpn vpn(table, std::make_unique<CFakeRouteRequestServer>(table), clock);
    vpn.openVpnDirectory = dir.Path().wstring() + L"/";
    vpn.SetServerHost(L"203.0.113.7");
    vpn.openVpnParams = L"udp,1194";
    ASSERT_EQ(vpn.Start(), 0);
    ASSERT_TRUE(vpn.IsRunning());
    // The push comes once the script has set up its signal handling.
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (vpn.GetLocalIp().empty() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(2ms);
    ASSERT_EQ(vpn.GetLocalIp(), L"10.8.0.6");
    EXPECT_EQ(vpn.Stop(), 0);
    EXPECT_FALSE(vpn.IsRunning());
    EXPECT_TRUE(vpn.WaitReaderIdle(0));
    EXPECT_EQ(vpn.GetState(), GENERAL_VPN_STATE_DISCONNECTED);
    EXPECT_EQ(table.Has(openVpns), !c.ignoresTerm);
    for (const ForwardRow& kept : {subnet, journaled, elsewhere}) EXPECT_TRUE(table.Has(kept));
  }
}
#endif

}  // namespace
