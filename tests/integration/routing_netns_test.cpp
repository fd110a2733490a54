// Route plans, the route request server and the journal against the real
// kernel table, in a namespace of the test's own.
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <filesystem>
#include <fstream>

#include "accel/route_request_socket_server.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"
#include "fakes/test_vpn.h"
#include "routing/route_journal.h"
#include "routing/route_table_linux.h"
#include "test_netns.h"
#include "text/text_table.h"

namespace {

std::string Lines(std::initializer_list<const char*> lines) {
  std::vector<std::string> sorted(lines.begin(), lines.end());
  std::sort(sorted.begin(), sorted.end());
  std::string out;
  for (const std::string& l : sorted) out += l + "\n";
  return out;
}

// Lines of `after` that are not in `before` (both sorted, one route a line).
std::string Added(const std::string& before, const std::string& after) {
  std::istringstream a(after);
  std::string line, out;
  while (std::getline(a, line))
    if (before.find(line + "\n") == std::string::npos) out += line + "\n";
  return out;
}

class KernelRoutes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    ns = std::make_unique<CTestNamespace>();
    ASSERT_TRUE(ns->Ok()) << "cannot create namespace " << ns->Name();
    ASSERT_TRUE(ns->AddHomeNetwork());
    table = CreateLinuxForwardTable(dir.Path().string());
    before = ns->RouteDump();
    socketPath = (dir.Path() / "route.sock").string();
  }
  void TearDown() override {
    vpn.reset();
    table.reset();
    ns.reset();
    if (!socketPath.empty()) unlink(socketPath.c_str());  // a killed child leaves its socket file
  }

  CTestVpn& Connect(std::int32_t mode, std::vector<std::wstring> routes) {
    vpn = std::make_unique<CTestVpn>(*table, std::make_unique<CVpnRouteRequestSocketServer>(*table, socketPath));
    vpn->SetCallback(&observer);
    vpn->SetRouteMode(mode);
    vpn->SetRoutes(std::move(routes));
    EXPECT_EQ(vpn->Start(), 0);
    vpn->Learn(L"10.8.0.2");
    return *vpn;
  }

  CTempDir dir;
  std::unique_ptr<CTestNamespace> ns;
  std::unique_ptr<IForwardTable> table;
  std::unique_ptr<CTestVpn> vpn;
  CRecordingObserver observer;
  std::string before;
  std::string socketPath;
};

unsigned char Ask(int fd, const char* address) {
  unsigned char request[5] = {1};
  const std::uint32_t a = ParseIpv4(NarrowToWide(address));
  std::memcpy(request + 1, &a, 4);
  if (send(fd, request, 5, 0) != 5) return 0xEE;
  unsigned char reply = 0xEE;
  return recv(fd, &reply, 1, 0) == 1 ? reply : 0xEE;
}

int ConnectTo(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(KernelRoutes, EachModeAddsExactlyItsRoutesAndStopPutsTheTableBack) {
  struct Case {
    const char* name;
    std::int32_t mode;
    const wchar_t* gateway;
    std::string expected;
  } cases[] = {
      {"all traffic", 1, L"",
       Lines({"10.0.0.0/8 via 192.168.77.1 dev qrlan0 proto static metric 101",
              "192.168.0.0/16 via 192.168.77.1 dev qrlan0 proto static metric 101",
              "203.0.113.7 via 192.168.77.1 dev qrlan0 proto static metric 101"})},
      {"listed", 2, L"",
       Lines({"10.0.0.0/8 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1",
              "192.168.0.0/16 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1",
              "10.8.0.1 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1",
              "203.0.113.7 via 192.168.77.1 dev qrlan0 proto static metric 101"})},
      {"listed, pushed gateway", 2, L"10.8.0.1",
       Lines({"10.0.0.0/8 via 10.8.0.1 dev qrvpn0 proto static metric 1",
              "192.168.0.0/16 via 10.8.0.1 dev qrvpn0 proto static metric 1",
              "10.8.0.1 via 10.8.0.1 dev qrvpn0 proto static metric 1",
              "203.0.113.7 via 192.168.77.1 dev qrlan0 proto static metric 101"})},
      {"none", 0, L"", ""},
      {"per application", 3, L"",
       Lines({"10.8.0.1 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1",
              "93.184.216.34 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    observer.Clear();
    CTestVpn& v = Connect(c.mode, {L"10.0.0.0/8", L"192.168.0.0 MASK 255.255.0.0", L"10.0.0.0/33"});
    v.Learn(L"10.8.0.2", c.gateway);
    v.SetVpnDns(L"10.8.0.1", nullptr);
    v.SetProxy(1, L"203.0.113.7", 8080, nullptr, nullptr);
    v.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    ASSERT_EQ(v.GetStatus(), (StateTriple{GENERAL_VPN_STATE_ALL_DONE, 0, 0}))
        << v.GetFailedRoutes().size();
    if (c.mode == 3) {
      const int fd = ConnectTo(socketPath);
      ASSERT_GE(fd, 0);
      EXPECT_EQ(Ask(fd, "93.184.216.34"), 1);
      close(fd);
    }
    EXPECT_EQ(Added(before, ns->RouteDump()), c.expected);
    v.Stop();
    EXPECT_EQ(ns->RouteDump(), before);
    vpn.reset();
  }
}

TEST_F(KernelRoutes, DuplicatesAndHostNamesAreReportedAndLeftAlone) {
  ASSERT_EQ(ns->Ip("route add 10.0.0.0/8 dev qrvpn0 metric 1"), 0);
  before = ns->RouteDump();
  CTestVpn& v = Connect(2, {L"10.0.0.0/8", L"172.16.0.0/12"});
  v.SetProxy(2, L"proxy.example.com", 1080, L"user", L"secret");
  v.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  EXPECT_EQ(v.GetStatus(),
            (StateTriple{GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_ERROR_MODIFY_ROUTE, 0}));
  EXPECT_EQ(v.GetFailedRoutes(), (std::vector<std::wstring>{L"proxy.example.com", L"10.0.0.0/8"}));
  EXPECT_EQ(Added(before, ns->RouteDump()),
            Lines({"172.16.0.0/12 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1"}));
  v.Stop();
  EXPECT_EQ(ns->RouteDump(), before);  // the route that was there before stays
}

TEST_F(KernelRoutes, BadEntriesNeverReachTheKernel) {
  const std::wstring binary(L"\x01\xFE\0/8", 5);
  CTestVpn& v = Connect(2, {L"", std::wstring(200000, L'7') + L"/8", binary, L"10.0.0.0/0", L"10.0.0.0/33",
                            L"10.0.0.0 mask 255.0.255.0", L"10.0.0.1/8", L"host.example mask 255.255.255.255",
                            L"10.9.0.0 mask bogus"});
  v.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  EXPECT_EQ(v.GetError(), GENERAL_VPN_ERROR_MODIFY_ROUTE);
  EXPECT_EQ(v.GetFailedRoutes().size(), 6u);
  EXPECT_EQ(ns->RouteDump(), before);
  v.Stop();
  EXPECT_EQ(ns->RouteDump(), before);
}

TEST_F(KernelRoutes, NoDefaultRouteMeansNoStart) {
  ASSERT_EQ(ns->Ip("route del default"), 0);
  vpn = std::make_unique<CTestVpn>(*table, std::make_unique<CVpnRouteRequestSocketServer>(*table, socketPath));
  EXPECT_EQ(vpn->Start(), GENERAL_VPN_ERROR_GET_GATEWAY);
  EXPECT_EQ(vpn->GetErrorDetail(), 13);
}

TEST_F(KernelRoutes, RequestServerAddsHostRoutesAndTakesThemAway) {
  ASSERT_EQ(ns->Ip("route add 198.51.100.9 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1"), 0);
  before = ns->RouteDump();
  CTestVpn& v = Connect(3, {});
  v.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  ASSERT_EQ(v.GetState(), GENERAL_VPN_STATE_ALL_DONE);
  const int fd = ConnectTo(socketPath);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Ask(fd, "1.1.1.1"), 1);
  EXPECT_EQ(Ask(fd, "1.1.1.1"), 1);
  EXPECT_EQ(Ask(fd, "198.51.100.9"), 0);  // already there, not ours
  EXPECT_EQ(Ask(fd, "0.0.0.0"), 0);
  // The kernel's connected networks, read back, are refused.
  for (const char* refused : {"192.168.77.1", "192.168.77.50", "192.168.77.255", "10.8.0.2", "10.8.0.77", "127.0.0.1"})
    EXPECT_EQ(Ask(fd, refused), 0) << refused;
  EXPECT_EQ(Added(before, ns->RouteDump()),
            Lines({"1.1.1.1 dev qrvpn0 proto static scope link src 10.8.0.2 metric 1"}));
  close(fd);
  v.Stop();
  EXPECT_EQ(ns->RouteDump(), before);
}

TEST_F(KernelRoutes, InterfaceMetricsAndPerLinkDnsServers) {
  const unsigned lan = if_nametoindex("qrlan0"), tunnel = if_nametoindex("qrvpn0");
  ASSERT_NE(tunnel, 0u);
  std::vector<InterfaceMetric> metrics;
  ASSERT_TRUE(table->ReadInterfaceMetrics(metrics));
  for (const InterfaceMetric& m : metrics) {
    if (m.ifIndex == lan) {
      EXPECT_EQ(m.metric, 100u);  // its default route's
    }
    if (m.ifIndex == tunnel) {
      EXPECT_EQ(m.metric, 0u);  // its address's prefix route
    }
  }
  std::filesystem::create_directories(dir.Path() / "systemd/resolve/netif");
  std::filesystem::create_directories(dir.Path() / "systemd/netif/links");
  std::ofstream(dir.Path() / "systemd/resolve/netif" / std::to_string(tunnel))
      << "LLMNR=yes\nSERVERS=10.8.0.1 1.1.1.1#one.one.one.one\n";
  std::ofstream(dir.Path() / "systemd/netif/links" / std::to_string(lan)) << "ADMIN_STATE=configured\nDNS=fe80::1%3 192.168.77.1\n";
  struct Case {
    const wchar_t* name;
    const wchar_t* dns1;
    const wchar_t* dns2;
  } cases[] = {{L"qrvpn0", L"10.8.0.1", L"1.1.1.1"}, {L"qrlan0", L"", L"192.168.77.1"}, {L"lo", L"", L""}};
  for (const Case& c : cases) {
    const AdapterDnsResult r = GetAdapterDns(*table, c.name);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.dns1, c.dns1) << c.name;
    EXPECT_EQ(r.dns2, c.dns2) << c.name;
  }
  ForwardRow row;
  ASSERT_EQ(MakeVpnRoute(*table, row, L"10.8.0.2"), 0u);
  EXPECT_EQ(row.ifIndex, tunnel);
}

TEST_F(KernelRoutes, AfterACrashTheJournalPutsTheTableBack) {
  // Someone's own route that equals one of the plan's must survive.
  ASSERT_EQ(ns->Ip("route add 10.0.0.0/8 dev qrvpn0 metric 1"), 0);
  before = ns->RouteDump();
  table.reset();  // each child makes its own
  struct Case {
    const char* name;
    std::int32_t mode;
    int deleted;
  } cases[] = {
      {"listed: 200 networks, the DNS host and the proxy", RouteModeListedRoutes, 202},
      {"per application: the DNS host and two requested hosts", RouteModePerApplication, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      auto system = CreateLinuxForwardTable("/run");
      CRouteJournal journal(dir.Path().wstring());
      journal.Replay(*system);
      CJournaledForwardTable journaled(*system, journal);
      std::vector<std::wstring> routes = {L"10.0.0.0/8"};
      for (int i = 0; i < 200; ++i) routes.push_back(L"172.16." + std::to_wstring(i) + L".0/24");
      CTestVpn v(journaled, std::make_unique<CVpnRouteRequestSocketServer>(journaled, socketPath));
      v.SetRouteMode(c.mode);
      v.SetRoutes(routes);
      v.SetProxy(1, L"203.0.113.7", 8080, nullptr, nullptr);
      if (v.Start() != 0) _exit(2);
      v.Learn(L"10.8.0.2");
      v.SetVpnDns(L"10.8.0.1", nullptr);
      v.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
      bool ok = false;
      if (c.mode == RouteModeListedRoutes) {
        ok = v.GetError() == GENERAL_VPN_ERROR_MODIFY_ROUTE && v.GetFailedRoutes().size() == 1;
      } else {
        const int fd = ConnectTo(socketPath);
        ok = v.GetState() == GENERAL_VPN_STATE_ALL_DONE && Ask(fd, "1.1.1.1") == 1 && Ask(fd, "8.8.8.8") == 1;
      }
      const char done = ok ? 'y' : 'n';
      [[maybe_unused]] ssize_t n = write(ready[1], &done, 1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char done = 0;
    // A child that hangs must fail this case, not stall the whole suite.
    pollfd readable{ready[0], POLLIN, 0};
    const ssize_t got = poll(&readable, 1, 120000) == 1 ? read(ready[0], &done, 1) : -1;
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(got, 1);
    ASSERT_EQ(done, 'y');
    EXPECT_NE(ns->RouteDump(), before);

    auto system = CreateLinuxForwardTable("/run");
    CRouteJournal journal(dir.Path().wstring());
    const RouteJournalReplay r = journal.Replay(*system);
    EXPECT_EQ(r.deleted, c.deleted);
    EXPECT_EQ(r.uncertain, 0);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(ns->RouteDump(), before);
  }
}

}  // namespace
