// COpenVpn against a real openvpn server in a namespace of its own, joined to
// the client's namespace by a veth pair; credentials checked by a script.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "fakes/temp_dir.h"
#include "routing/route_table_linux.h"
#include "test_netns.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool HaveOpenVpn() { return Shell("command -v openvpn") == 0 && Shell("command -v openssl") == 0; }

// Writes a CA and a server certificate signed by it.
bool MakePki(const fs::path& dir) {
  const std::string d = dir.string();
  const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  return Shell("cd " + d + " && openssl req -x509 " + ec + " -days 2 -subj /CN=qo-test-ca -keyout ca.key -out ca.crt") ==
             0 &&
         Shell("cd " + d + " && openssl req " + ec + " -subj /CN=qo-server -keyout server.key -out server.csr") == 0 &&
         Shell("cd " + d +
               " && printf 'extendedKeyUsage=serverAuth\\nkeyUsage=digitalSignature,keyAgreement\\n' > ext && "
               "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile ext "
               "-out server.crt") == 0;
}

class CServer {
 public:
  CServer(const std::string& ns, const fs::path& dir, const std::string& proto, bool pushAddress) {
    const fs::path conf = dir / ("server-" + proto + ".conf");
    std::ofstream out(conf);
    out << "mode server\ntls-server\ndev tap\nproto " << (proto == "tcp" ? "tcp-server" : "udp")
        << "\nlocal 10.99.0.1\nport 1194\nca " << (dir / "ca.crt").string() << "\ncert "
        << (dir / "server.crt").string() << "\nkey " << (dir / "server.key").string()
        << "\ndh none\nverify-client-cert none\nusername-as-common-name\nscript-security 2\n"
        << "auth-user-pass-verify " << (dir / "auth.sh").string() << " via-file\n"
        << "keepalive 1 4\nverb 3\n";
    if (pushAddress) {
      out << "topology subnet\nserver 10.8.0.0 255.255.255.0\npush \"dhcp-option DNS 10.8.0.1\"\n"
          << "push \"dhcp-option DNS 10.8.0.53\"\n";
    } else {
      out << "ifconfig 10.8.0.1 255.255.255.0\npush \"route-gateway 10.8.0.1\"\n";
    }
    out.close();
    log_ = dir / ("server-" + proto + ".log");
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // no server outlives a killed test run
      execlp("ip", "ip", "netns", "exec", ns.c_str(), "openvpn", "--config", conf.c_str(), "--log",
             log_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !Ready(); ++i) std::this_thread::sleep_for(50ms);
  }
  ~CServer() { Kill(); }
  bool Ready() const {
    std::ifstream in(log_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.find("Initialization Sequence Completed") != std::string::npos;
  }
  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  fs::path log_;
};

// Records every notification; lets the test wait for one.
class CObservedOpenVpn : public COpenVpn, public CGeneralVpnCallbackInterface {
 public:
  explicit CObservedOpenVpn(IForwardTable& table) : COpenVpn(table) { SetCallback(this); }
  void OnVpnStateChanged(CGeneralVpn* vpn) override {
    std::lock_guard<std::mutex> lock(m_);
    states.push_back(vpn->GetState());
    errors.push_back(vpn->GetError());
    changed_.notify_all();
  }
  bool WaitFor(std::int32_t wanted, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_);
    return changed_.wait_for(lock, limit, [&] {
      return std::find(states.begin(), states.end(), wanted) != states.end();
    });
  }
  std::vector<std::int32_t> States() {
    std::lock_guard<std::mutex> lock(m_);
    return states;
  }
  std::wstring Gateway() const { return GetVpnGateway(); }
  std::vector<std::int32_t> states, errors;

 private:
  std::mutex m_;
  std::condition_variable changed_;
};

class OpenVpnEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }

  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for network namespaces and a TAP device";
    if (!HaveOpenVpn()) GTEST_SKIP() << "openvpn or openssl is not installed";
    if (Shell("test -c /dev/net/tun") != 0) GTEST_SKIP() << "no /dev/net/tun on this machine";
    ASSERT_TRUE(client_.Ok());
    // Namespaces of earlier runs that were killed before they could clean up.
    Shell("for n in $(ip netns list | awk '/^qosrv/{print $1}'); do kill -0 ${n#qosrv} 2>/dev/null || "
          "ip netns del $n; done");
    server_ = "qosrv" + std::to_string(getpid());
    Shell("ip netns del " + server_);
    ASSERT_EQ(Shell("ip netns add " + server_), 0);
    ASSERT_EQ(client_.Ip("link add qo0 type veth peer name qo1 netns " + server_), 0);
    ASSERT_EQ(client_.Ip("addr add 10.99.0.2/24 dev qo0"), 0);
    ASSERT_EQ(client_.Ip("link set qo0 up"), 0);
    ASSERT_EQ(client_.Ip("route add default via 10.99.0.254 dev qo0"), 0);
    ASSERT_EQ(Shell("ip -n " + server_ + " addr add 10.99.0.1/24 dev qo1"), 0);
    ASSERT_EQ(Shell("ip -n " + server_ + " link set qo1 up"), 0);
    ASSERT_EQ(Shell("ip -n " + server_ + " link set lo up"), 0);
    ASSERT_TRUE(MakePki(dir_.Path()));
    std::ofstream(dir_.Path() / "auth.sh")
        << "#!/bin/sh\n[ \"$(sed -n 1p \"$1\")\" = alice ] && [ \"$(sed -n 2p \"$1\")\" = secret ]\n";
    fs::permissions(dir_.Path() / "auth.sh", fs::perms::owner_all);
    table_ = CreateLinuxForwardTable("/run");
  }

  void TearDown() override {
    if (!server_.empty()) Shell("ip netns del " + server_);
  }

  std::unique_ptr<CObservedOpenVpn> MakeVpn(const std::wstring& password) {
    auto vpn = std::make_unique<CObservedOpenVpn>(*table_);
    vpn->openVpnDirectory = dir_.Path().wstring() + L"/";
    vpn->SetServerHost(L"10.99.0.1");
    vpn->openVpnParams = GetParam() == "tcp" ? L"tcp,1194" : L"udp,1194";
    vpn->SetCredentials(L"alice", password);
    vpn->SetRouteMode(RouteModeListedRoutes);
    vpn->SetRoutes({L"172.30.1.0/24", L"172.30.2.0 mask 255.255.255.0"});
    return vpn;
  }

  CTestNamespace client_;
  std::string server_;
  CTempDir dir_;
  std::unique_ptr<IForwardTable> table_;
};

TEST_P(OpenVpnEndToEnd, ConnectsRoutesCountsAndRestores) {
  CServer server(server_, dir_.Path(), GetParam(), true);
  ASSERT_TRUE(server.Ready());
  const std::string before = client_.RouteDump();
  auto vpn = MakeVpn(L"secret");
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(vpn->Start(), 0);
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_ALL_DONE, 20s)) << vpn->GetOutput();
  const auto connectMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  std::printf("[ measure  ] %s: Start to ALL_DONE in %lld ms\n", GetParam().c_str(),
              static_cast<long long>(connectMs.count()));
  const std::vector<std::int32_t> states = vpn->States();
  const std::vector<std::int32_t> expected = {GENERAL_VPN_STATE_PREPARE,       GENERAL_VPN_STATE_CONNECT,
                                              GENERAL_VPN_STATE_AUTHENTICATE,  GENERAL_VPN_STATE_AUTHENTICATED,
                                              GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_STATE_ALL_DONE};
  // The log may repeat a milestone; the first sighting of each comes in this order.
  std::vector<std::int32_t> firsts;
  for (std::int32_t s : states)
    if (std::find(firsts.begin(), firsts.end(), s) == firsts.end()) firsts.push_back(s);
  EXPECT_EQ(firsts, expected);
  EXPECT_EQ(vpn->GetLocalIp(), L"10.8.0.2");
  EXPECT_EQ(vpn->Gateway(), L"10.8.0.1");
  EXPECT_EQ(vpn->GetDns1(), L"10.8.0.1");
  EXPECT_EQ(vpn->GetDns2(), L"10.8.0.53");
  const std::string routes = client_.MainRoutes();
  EXPECT_NE(routes.find("172.30.1.0/24 via 10.8.0.1"), std::string::npos) << routes;
  EXPECT_NE(routes.find("172.30.2.0/24 via 10.8.0.1"), std::string::npos) << routes;

  std::uint32_t sent0 = 0, received0 = 0, sent1 = 0, received1 = 0;
  vpn->GetStatistics(sent0, received0);
  Shell("ip netns exec " + client_.Name() + " ping -c 5 -i 0.2 -W 1 10.8.0.1");
  std::this_thread::sleep_for(300ms);
  vpn->GetStatistics(sent1, received1);
  EXPECT_GE(sent1, sent0 + 5);
  EXPECT_GE(received1, received0 + 5);

  const auto s0 = std::chrono::steady_clock::now();
  EXPECT_EQ(vpn->Stop(), 0);
  EXPECT_TRUE(vpn->WaitReaderIdle(3000));
  std::printf("[ measure  ] %s: Stop to child exit in %lld ms\n", GetParam().c_str(),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - s0)
                                         .count()));
  EXPECT_EQ(client_.RouteDump(), before);
}

// openvpn's own connect time on the same bed, for comparison with ours:
// the same options, credentials from a file, on a terminal as ours runs.
TEST_P(OpenVpnEndToEnd, OpenVpnAloneForComparison) {
  CServer server(server_, dir_.Path(), GetParam(), true);
  ASSERT_TRUE(server.Ready());
  std::ofstream(dir_.Path() / "creds") << "alice\nsecret\n";
  const std::wstring dir = dir_.Path().wstring();
  CCConsoleRedirectorSimple alone;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(alone.StartChild(L"openvpn --proto " + std::wstring(GetParam() == "tcp" ? L"tcp-client" : L"udp") +
                               L" --mssfix 1320 --remote 10.99.0.1 1194 --nobind --dev tap --auth-user-pass " +
                               dir + L"/creds --pull --ca " + dir + L"/ca.crt --tls-client --verb 5"));
  bool completed = false;
  while (!completed && std::chrono::steady_clock::now() - t0 < 20s) {
    completed = alone.GetOutput().find("Initialization Sequence Completed") != std::string::npos;
    if (!completed) std::this_thread::sleep_for(1ms);
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  std::this_thread::sleep_for(300ms);  // a few keepalive packets for the transcript
  alone.StopChild();
  ASSERT_TRUE(completed) << alone.GetOutput();
  // QUILLNET_RECORD_TRANSCRIPT=folder keeps the real log for the parser's tests.
  if (const char* keep = std::getenv("QUILLNET_RECORD_TRANSCRIPT"))
    std::ofstream(fs::path(keep) / ("openvpn-" + GetParam() + "-verb5.log"), std::ios::binary) << alone.GetOutput();
  std::printf("[ measure  ] %s: openvpn alone connects in %lld ms\n", GetParam().c_str(),
              static_cast<long long>(ms.count()));
}

TEST_P(OpenVpnEndToEnd, WrongPasswordIsAnAuthenticationError) {
  CServer server(server_, dir_.Path(), GetParam(), true);
  ASSERT_TRUE(server.Ready());
  auto vpn = MakeVpn(L"wrong");
  ASSERT_EQ(vpn->Start(), 0);
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_AUTHENTICATE, 20s));
  ASSERT_TRUE(vpn->WaitReaderIdle(20000));
  EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_AUTHENTICATE);
  EXPECT_EQ(vpn->GetError(), GENERAL_VPN_ERROR_INTERNAL);
  vpn->Stop();
}

TEST_P(OpenVpnEndToEnd, ServerGoneMeansDisconnected) {
  CServer server(server_, dir_.Path(), GetParam(), true);
  ASSERT_TRUE(server.Ready());
  const std::string before = client_.RouteDump();
  auto vpn = MakeVpn(L"secret");
  ASSERT_EQ(vpn->Start(), 0);
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_ALL_DONE, 20s));
  server.Kill();
  EXPECT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_DISCONNECTED, 20s)) << vpn->GetOutput();
  vpn->Stop();
  vpn->WaitReaderIdle(3000);
  EXPECT_EQ(client_.RouteDump(), before);
}

TEST_P(OpenVpnEndToEnd, PushWithoutAddressChangesNoRoute) {
  CServer server(server_, dir_.Path(), GetParam(), false);
  ASSERT_TRUE(server.Ready());
  const std::string before = client_.MainRoutes();
  auto vpn = MakeVpn(L"secret");
  ASSERT_EQ(vpn->Start(), 0);
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_CONNECTED, 20s));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(vpn->GetState(), GENERAL_VPN_STATE_CONNECTED);
  EXPECT_EQ(vpn->GetError(), GENERAL_VPN_ERROR_GET_LOCAL_IP);
  const std::string during = client_.MainRoutes();
  EXPECT_EQ(during.find("172.30."), std::string::npos) << during;
  vpn->Stop();
}

INSTANTIATE_TEST_SUITE_P(Protocols, OpenVpnEndToEnd, ::testing::Values("udp", "tcp"));

TEST(OpenVpnStart, MissingProgramFailsWithNothingRunning) {
  LoadTextTable();
  auto table = CreateLinuxForwardTable("/run");
  CTempDir dir;
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", dir.Path().c_str(), 1);
  COpenVpn vpn(*table);
  vpn.openVpnDirectory = dir.Path().wstring() + L"/";
  vpn.SetServerHost(L"10.99.0.1");
  vpn.openVpnParams = L"udp,1194";
  const std::int32_t result = vpn.Start();
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(result, OPEN_VPN_ERROR_EXEC);
  EXPECT_EQ(vpn.GetError(), OPEN_VPN_ERROR_EXEC);
  EXPECT_FALSE(vpn.IsRunning());
}

}  // namespace
