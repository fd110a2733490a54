// Leak protection's nftables table against the real kernel, in a namespace
// of the test's own: what the kernel lets out once the rules are in, how a
// change replaces them, their removal, and a client killed outright.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "routing/firewall_linux.h"
#include "test_netns.h"

namespace {

IpAddress A(const char* text) {
  IpAddress address;
  EXPECT_TRUE(ParseIpAddress(text, address)) << text;
  return address;
}

IpNetwork N(const char* text) {
  IpNetwork network;
  EXPECT_TRUE(ParseIpNetwork(text, network)) << text;
  return network;
}

// The namespace's home network (qrlan0 192.168.77.2/24 with the default
// route, qrvpn0 10.8.0.2/24 as the tunnel) as the policy sees it.
FirewallPolicyInput Home(FirewallPhase phase) {
  FirewallPolicyInput in;
  in.phase = phase;
  in.server = {A("198.18.0.50"), FirewallProtocol::Udp, 1194};
  in.tunnelInterfaceName = "qrvpn0";
  in.tunnelNetworks = {N("10.8.0.0/24")};
  in.tunnelDns = {A("10.8.0.1")};
  in.physicalInterfaceName = "qrlan0";
  in.physicalNetworks = {N("192.168.77.0/24")};
  return in;
}

// 0 when the kernel let one UDP datagram out, else the errno; an nftables
// drop in the output hook is EPERM to the sender.
int SendUdp(const char* address, std::uint16_t port) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, address, &to.sin_addr);
  int rc = sendto(s, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 1 ? 0 : errno;
  close(s);
  return rc;
}

class KernelFirewall : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for a network namespace";
    ns = std::make_unique<CTestNamespace>();
    ASSERT_TRUE(ns->Ok()) << "cannot create namespace " << ns->Name();
    ASSERT_TRUE(ns->AddHomeNetwork());
    firewall = CreateLinuxFirewall();
    // The peer of the LAN answers ARP so datagrams leave at once.
    ASSERT_EQ(ns->Ip("neigh add 192.168.77.1 lladdr 02:00:00:00:00:01 dev qrlan0"), 0);
  }
  void TearDown() override {
    firewall.reset();
    ns.reset();
  }
  std::string Table() { return ShellOutput("ip netns exec " + ns->Name() + " nft list table inet quillnet 2>&1"); }

  std::unique_ptr<CTestNamespace> ns;
  std::unique_ptr<IFirewall> firewall;
};

TEST_F(KernelFirewall, KernelLetsOutOnlyWhatTheRulesPermit) {
  struct Case {
    const char* what;
    FirewallPhase phase;
    const char* address;
    std::uint16_t port;
    int expected;  // 0 sent, EPERM dropped
  } cases[] = {
      {"web around the tunnel", FirewallPhase::Connected, "93.184.216.34", 443, EPERM},
      {"web through the tunnel", FirewallPhase::Connected, "10.8.0.9", 443, 0},
      {"the server", FirewallPhase::Connected, "198.18.0.50", 1194, 0},
      {"the server, another port", FirewallPhase::Connected, "198.18.0.50", 1195, EPERM},
      {"the LAN's resolver", FirewallPhase::Connected, "192.168.77.1", 53, EPERM},
      {"the tunnel's resolver", FirewallPhase::Connected, "10.8.0.1", 53, 0},
      {"another resolver in the tunnel", FirewallPhase::Connected, "10.8.0.3", 53, EPERM},
      {"the LAN", FirewallPhase::Connected, "192.168.77.1", 631, 0},
      {"loopback", FirewallPhase::Connected, "127.0.0.1", 9, 0},
      {"dropped: web", FirewallPhase::Dropped, "93.184.216.34", 443, EPERM},
      {"dropped: the tunnel's device", FirewallPhase::Dropped, "10.8.0.9", 443, EPERM},
      {"dropped: the server", FirewallPhase::Dropped, "198.18.0.50", 1194, 0},
      {"user disconnected: web", FirewallPhase::UserDisconnected, "93.184.216.34", 443, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(firewall->Apply(MakeFirewallRules(Home(c.phase))), 0u) << c.what << ": " << firewall->LastError();
    EXPECT_EQ(SendUdp(c.address, c.port), c.expected) << c.what;
  }
  EXPECT_EQ(firewall->Remove(), 0u);
  EXPECT_EQ(SendUdp("93.184.216.34", 443), 0) << "nothing blocks once removed";
}

TEST_F(KernelFirewall, PresentThenRemovedAndRemoveIsIdempotent) {
  EXPECT_FALSE(firewall->Present());
  EXPECT_EQ(firewall->Remove(), 0u) << "removing what is not there: " << firewall->LastError();
  ASSERT_EQ(firewall->Apply(MakeFirewallRules(Home(FirewallPhase::Connected))), 0u) << firewall->LastError();
  EXPECT_TRUE(firewall->Present());
  std::string table = Table();
  EXPECT_NE(table.find("hook output priority filter; policy accept;"), std::string::npos) << table;
  EXPECT_NE(table.find("oifname \"qrvpn0\""), std::string::npos) << table;
  EXPECT_NE(table.find("comment \"everything else\""), std::string::npos) << table;
  EXPECT_EQ(firewall->Remove(), 0u) << firewall->LastError();
  EXPECT_FALSE(firewall->Present());
  EXPECT_EQ(ShellOutput("ip netns exec " + ns->Name() + " nft list tables"), "");
  EXPECT_EQ(firewall->Remove(), 0u);
}

TEST_F(KernelFirewall, ARefusedChangeLeavesTheRulesInForce) {
  ASSERT_EQ(firewall->Apply(MakeFirewallRules(Home(FirewallPhase::Connected))), 0u) << firewall->LastError();
  FirewallPolicyInput bad = Home(FirewallPhase::UserDisconnected);
  bad.phase = FirewallPhase::Connected;
  bad.tunnelInterfaceName = "qrvpn0\" accept";
  EXPECT_NE(firewall->Apply(MakeFirewallRules(bad)), 0u);
  EXPECT_TRUE(firewall->Present());
  EXPECT_EQ(SendUdp("93.184.216.34", 443), EPERM);
}

// While the rules change from one phase to another, a sender to a host
// both phases block never gets a datagram out: there is no moment between
// the old table and the new one.
TEST_F(KernelFirewall, ReplacementLeavesNoGap) {
  FirewallRuleSet connected = MakeFirewallRules(Home(FirewallPhase::Connected));
  FirewallRuleSet dropped = MakeFirewallRules(Home(FirewallPhase::Dropped));
  ASSERT_EQ(firewall->Apply(connected), 0u) << firewall->LastError();
  std::atomic<bool> done{false};
  std::atomic<int> sent{0}, tries{0};
  std::thread sender([&] {
    while (!done) {
      if (SendUdp("93.184.216.34", 443) == 0) ++sent;
      ++tries;
    }
  });
  constexpr int kChanges = 60;
  int failures = 0;
  for (int i = 0; i < kChanges; ++i) {
    if (firewall->Apply(i % 2 ? connected : dropped) != 0) ++failures;
  }
  // At least some sends overlapped the changes, however slow the machine.
  for (int i = 0; i < 1000 && tries < 100; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  done = true;
  sender.join();
  EXPECT_EQ(failures, 0) << firewall->LastError();
  EXPECT_GE(tries.load(), 100);
  EXPECT_EQ(sent.load(), 0) << "datagrams got out during " << kChanges << " replacements";
  EXPECT_EQ(ShellOutput("ip netns exec " + ns->Name() + " nft list tables"), "table inet quillnet\n");
}

// A client killed outright cannot lift the block: it stays until the next
// start takes it away.
TEST_F(KernelFirewall, SurvivesTheKillOfTheProcessThatSetIt) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    auto own = CreateLinuxFirewall();
    char ok = own->Apply(MakeFirewallRules(Home(FirewallPhase::Connected))) == 0 ? '1' : '0';
    if (write(ready[1], &ok, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(ok, '1');
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(firewall->Present());
  EXPECT_EQ(SendUdp("93.184.216.34", 443), EPERM) << "the block went with the process";
  EXPECT_EQ(firewall->Remove(), 0u);
  EXPECT_EQ(SendUdp("93.184.216.34", 443), 0);
}

}  // namespace
