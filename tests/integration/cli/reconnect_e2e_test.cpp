// A dropped tunnel against a real openvpn server: the terminal client brings
// it back by itself, or ends the run when told not to; the time from the
// drop to the new tunnel is printed beside the first connect's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/cli_options.h"
#include "integration/cli/cli_bed.h"
#include "integration/cli/quillnet_process.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The number in "(N ms" after `marker` in the output, -1 if none.
long MillisecondsAfter(const std::string& output, const std::string& marker) {
  const std::size_t at = output.find(marker);
  if (at == std::string::npos) return -1;
  const std::size_t open = output.find('(', at);
  if (open == std::string::npos) return -1;
  long ms = -1;
  return std::sscanf(output.c_str() + open, "(%ld ms", &ms) == 1 ? ms : -1;
}

bool HasRouteStartingWith(const std::string& routes, const std::string& prefix) {
  std::size_t start = 0;
  while (start < routes.size()) {
    std::size_t end = routes.find('\n', start);
    if (end == std::string::npos) end = routes.size();
    if (routes.compare(start, prefix.size(), prefix) == 0) return true;
    start = end + 1;
  }
  return false;
}

TEST(CliOptions, ProtectionFlagsAreOnOffOrLeftToTheRememberedChoice) {
  using Choice = std::optional<bool>;
  const struct {
    std::vector<std::string> flags;
    bool ok;
    Choice leak, lan, reconnect;
    const char* error;
  } cases[] = {
      {{}, true, {}, {}, {}, ""},
      {{"--leak-protection", "off"}, true, false, {}, {}, ""},
      {{"--allow-lan", "off", "--reconnect", "on"}, true, {}, false, true, ""},
      {{"--reconnect", "off", "--leak-protection", "on", "--allow-lan", "on"}, true, true, true, false, ""},
      {{"--reconnect", "no"}, false, {}, {}, {}, "--reconnect is on or off"},
      {{"--allow-lan", "ON"}, false, {}, {}, {}, "--allow-lan is on or off"},
      {{"--leak-protection"}, false, {}, {}, {}, "needs a value"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments{"connect", "--account", "a", "--password-file", "-", "--service", "http://h/"};
    arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
    CliOptions options;
    std::string error;
    ASSERT_EQ(ParseCliOptions(arguments, options, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(options.leakProtection, c.leak);
    EXPECT_EQ(options.allowLocalNetwork, c.lan);
    EXPECT_EQ(options.reconnect, c.reconnect);
  }
  CliOptions options;
  std::string error;
  EXPECT_FALSE(ParseCliOptions({"disconnect", "--reconnect", "off"}, options, error)) << "only where it connects";
}

class TerminalReconnect : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = OpenVpnBedMissing(); !missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(bed_.Start(OneServerConfig()));
  }
  void TearDown() override { bed_.Close(); }
  std::vector<std::string> Arguments(const std::vector<std::string>& extra) const {
    return bed_.ConnectArguments("listed:0", "password", extra);
  }

  CCliBed bed_;
};

TEST_F(TerminalReconnect, ADroppedTunnelComesBackOrEndsTheRunAsChosen) {
  struct Case {
    const char* name;
    std::vector<std::string> flags;
    // Ends the tunnel; `client` is the terminal client's pid.
    std::function<void(COpenVpnBed&, pid_t client)> drop;
    bool serverBack;  // the server is started again after the drop is seen
    bool reconnects;
  };
  auto killOpenVpn = [](COpenVpnBed&, pid_t client) {
    for (pid_t child : ChildProcesses(client)) kill(child, SIGKILL);
  };
  auto killServer = [](COpenVpnBed& bed, pid_t) { bed.KillServer(); };
  const Case cases[] = {
      {"openvpn killed", {}, killOpenVpn, false, true},
      {"server gone and back", {}, killServer, true, true},
      {"switched off: the run ends", {"--reconnect", "off"}, killOpenVpn, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestNamespace& ns = bed_.Ns();
    const std::string before = ns.RouteDump();
    CQuillnetProcess client(Arguments(c.flags));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    EXPECT_NE(client.Output().find(c.reconnects ? "reconnect on" : "reconnect off"), std::string::npos)
        << client.Output();
    const std::vector<pid_t> first = ChildProcesses(client.Pid());
    const SteadyClock::time_point dropped = SteadyClock::now();
    c.drop(bed_.Bed(), client.Pid());
    if (!c.reconnects) {
      EXPECT_EQ(client.Wait(std::chrono::seconds(90)), kCliExitDropped) << client.Output();
      EXPECT_NE(client.Output().find("connection lost"), std::string::npos) << client.Output();
      EXPECT_EQ(client.Output().find("reconnecting"), std::string::npos) << client.Output();
      EXPECT_EQ(ns.RouteDump(), before);
      continue;
    }
    ASSERT_TRUE(client.WaitForOutput("connection lost: reconnecting", std::chrono::seconds(60))) << client.Output();
    if (c.serverBack) {
      ASSERT_TRUE(bed_.Bed().StartServer("udp"));
    }
    ASSERT_TRUE(client.WaitForOutput("reconnected: server 7", std::chrono::seconds(120))) << client.Output();
    const auto back = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - dropped).count();
    EXPECT_TRUE(HasRouteStartingWith(ns.MainRoutes(), "192.0.2.0/24 ")) << ns.MainRoutes();
    const std::vector<pid_t> second = ChildProcesses(client.Pid());
    ASSERT_EQ(second.size(), 1u) << "one openvpn, the new one";
    EXPECT_TRUE(first.empty() || second[0] != first[0]);
    std::printf("[ reconnect ] %s: user connect %ld ms, drop to reconnected %lld ms (client's count %ld ms)\n",
                c.name, MillisecondsAfter(client.Output(), "connected: "), static_cast<long long>(back),
                MillisecondsAfter(client.Output(), "reconnected: "));
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(), kCliExitOk) << client.Output();
    EXPECT_EQ(ns.RouteDump(), before);
  }
}

}  // namespace
