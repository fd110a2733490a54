// quillnet end to end: the reference account service on loopback and a real
// openvpn server, both inside namespaces the test makes, the client as a
// child process in each route mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/temp_dir.h"
#include "integration/account/service_process.h"
#include "integration/cli/quillnet_process.h"
#include "integration/open_vpn_bed.h"
#include "integration/test_netns.h"

namespace {

namespace fs = std::filesystem;

const char* const kConfig = R"(
[VPN]
RequiredClientVersion=2.3.0.2
[Account alice]
Password=secret
Expires=2099-01-01
[Servers]
ServerId0=4
Title0=Dial-up only
ServerHost0=10.99.0.1
Protocols0=pptp,l2tp
ServerId1=7
Title1=Bed
ServerHost1=10.99.0.1
Protocols1=openvpn,pptp
OpenVpn1=udp,1194
[Routes]
Title0=Listed
RouteId0=r1
ModifyDefaultGateway0=0
[RouteList Routes r1]
Route0=192.0.2.0/24
Route1=198.51.100.0 mask 255.255.255.0
)";

struct ModeCase {
  const char* route;
  // Lines of `ip route` (main table) that must be there while connected.
  std::vector<std::string> present;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool HasRouteStartingWith(const std::string& routes, const std::string& prefix) {
  for (const std::string& line : Lines(routes))
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

class TerminalClient : public ::testing::TestWithParam<ModeCase> {
 protected:
  void SetUp() override {
    if (const std::string missing = OpenVpnBedMissing(); !missing.empty()) GTEST_SKIP() << missing;
    ns_ = std::make_unique<CTestNamespace>();
    ASSERT_TRUE(ns_->Ok());
    ASSERT_EQ(ns_->Ip("link set lo up"), 0);
    bed_ = std::make_unique<COpenVpnBed>(*ns_, dir_.Path());
    ASSERT_TRUE(bed_->Ok());
    ASSERT_TRUE(bed_->StartServer("udp"));
    fs::create_directories(dir_.Path() / "program" / "openvpn");
    fs::copy_file(dir_.Path() / "ca.crt", dir_.Path() / "program" / "openvpn" / "ca.crt");
    std::ofstream(dir_.Path() / "password") << "secret\n";
    service_ = std::make_unique<CServiceProcess>("", kConfig);
    ASSERT_TRUE(service_->Ready());
  }
  void TearDown() override {
    service_.reset();
    bed_.reset();
    ns_.reset();
  }

  std::vector<std::string> Arguments(const std::string& route) const {
    const std::string d = dir_.Path().string();
    std::string base;
    for (wchar_t c : service_->HttpBase()) base += static_cast<char>(c);
    return {"connect", "--service", base, "--account", "alice", "--password-file", d + "/password",
            "--route", route, "--config", d + "/config", "--data", d + "/data", "--program-folder", d + "/program"};
  }
  std::vector<std::string> RestoreArguments() const {
    const std::string d = dir_.Path().string();
    return {"restore-routes", "--config", d + "/config", "--data", d + "/data", "--program-folder", d + "/program"};
  }

  CTempDir dir_;
  std::unique_ptr<CTestNamespace> ns_;
  std::unique_ptr<COpenVpnBed> bed_;
  std::unique_ptr<CServiceProcess> service_;
};

// The client's own routes: the ones it adds carry metric 1 and proto static.
int OwnRoutes(const std::string& routes) {
  int n = 0;
  for (const std::string& line : Lines(routes)) n += line.find("proto static metric 1") != std::string::npos;
  return n;
}

TEST_P(TerminalClient, ConnectsRoutesAndRestoresOnSigtermAndAfterSigkill) {
  const ModeCase& c = GetParam();
  const std::string before = ns_->RouteDump();
  {
    CQuillnetProcess client(Arguments(c.route));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    const std::string routes = ns_->MainRoutes();
    for (const std::string& prefix : c.present) EXPECT_TRUE(HasRouteStartingWith(routes, prefix)) << prefix << "\n" << routes;
    EXPECT_NE(client.Output().find("PPTP: not available on Linux, skipped"), std::string::npos) << client.Output();
    EXPECT_EQ(client.Output().find("secret"), std::string::npos);
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(), 0) << client.Output();
    EXPECT_NE(client.Output().find("disconnected"), std::string::npos) << client.Output();
  }
  EXPECT_EQ(ns_->RouteDump(), before);

  // Killed while connected, with its openvpn held so the tunnel device and
  // the routes through it outlive the client as they would on a crash.
  pid_t openVpn = -1;
  int own = 0;
  std::unique_ptr<CFrozenProcess> frozen;
  {
    CQuillnetProcess client(Arguments(c.route));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    own = OwnRoutes(ns_->MainRoutes());
    const std::vector<pid_t> children = ChildProcesses(client.Pid());
    ASSERT_EQ(children.size(), 1u);
    openVpn = children[0];
    frozen = std::make_unique<CFrozenProcess>(openVpn);
    ASSERT_TRUE(frozen->Frozen());
    client.Signal(SIGKILL);
    EXPECT_EQ(client.Wait(), 128 + SIGKILL);
  }
  EXPECT_EQ(OwnRoutes(ns_->MainRoutes()), own);
  // The next start replays the journal while the tunnel device still
  // exists, then asks the leftover openvpn to end, which it can once thawed.
  CQuillnetProcess restore(RestoreArguments());
  if (own > 0) {
    EXPECT_TRUE(restore.WaitForOutput("route journal: " + std::to_string(own) + " routes of an earlier run deleted"))
        << restore.Output();
  }
  EXPECT_EQ(OwnRoutes(ns_->MainRoutes()), 0) << ns_->MainRoutes();
  frozen.reset();
  EXPECT_EQ(restore.Wait(), 0) << restore.Output();
  EXPECT_NE(restore.Output().find("ended the openvpn of an earlier run (" + std::to_string(openVpn) + ")"),
            std::string::npos)
      << restore.Output();
  // The orphan's routes go as it exits; reaping may come later.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ns_->RouteDump() != before && std::chrono::steady_clock::now() < until) usleep(50000);
  EXPECT_EQ(ns_->RouteDump(), before);
  kill(openVpn, SIGKILL);  // gone already, unless it hung
}

INSTANTIATE_TEST_SUITE_P(RouteModes, TerminalClient,
                         ::testing::Values(ModeCase{"all", {"0.0.0.0/1 ", "128.0.0.0/1 ", "10.99.0.1 "}},
                                           ModeCase{"listed:0", {"192.0.2.0/24 ", "198.51.100.0/24 "}},
                                           ModeCase{"app", {}}),
                         [](const auto& info) {
                           std::string name = info.param.route;
                           return name.substr(0, name.find(':'));
                         });

}  // namespace
