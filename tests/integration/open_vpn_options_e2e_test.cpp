// What a login reply may put on openvpn's command line, against the real
// program: the options real services send still connect; forged ones start
// nothing at all.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "fakes/temp_dir.h"
#include "open_vpn_bed.h"
#include "routing/route_table_linux.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class CWaitingOpenVpn : public COpenVpn, public CGeneralVpnCallbackInterface {
 public:
  explicit CWaitingOpenVpn(IForwardTable& table) : COpenVpn(table) { SetCallback(this); }
  ~CWaitingOpenVpn() override { SetCallback(nullptr); }
  void OnVpnStateChanged(CGeneralVpn* vpn) override {
    std::lock_guard lock(m_);
    last_ = vpn->GetStatus();
    changed_.notify_all();
  }
  std::string Transcript() {
    std::lock_guard lock(m_);
    return transcript_;
  }
  bool WaitFor(std::int32_t state) {
    std::unique_lock lock(m_);
    return changed_.wait_for(lock, 20s, [&] { return last_.state == state || last_.error != 0; }) &&
           last_.state == state;
  }

 protected:
  void OnOutput(const char* bytes, std::size_t count) override {
    {
      std::lock_guard lock(m_);
      transcript_.append(bytes, count);
    }
    COpenVpn::OnOutput(bytes, count);
  }

 private:
  std::mutex m_;
  std::condition_variable changed_;
  VpnStatus last_;
  std::string transcript_;
};

class OpenVpnOptionsEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    if (const std::string missing = OpenVpnBedMissing(); !missing.empty()) GTEST_SKIP() << missing;
    bed_ = std::make_unique<COpenVpnBed>(client_, dir_.Path());
    ASSERT_TRUE(bed_->Ok());
    table_ = CreateLinuxForwardTable("/run");
  }
  std::unique_ptr<CWaitingOpenVpn> MakeVpn(const std::wstring& params) {
    auto vpn = std::make_unique<CWaitingOpenVpn>(*table_);
    vpn->openVpnDirectory = dir_.Path().wstring() + L"/";
    vpn->SetServerHost(L"10.99.0.1");
    vpn->openVpnParams = params;
    vpn->SetCredentials(L"alice", L"secret");
    vpn->SetRouteMode(RouteModeListedRoutes);
    vpn->SetRoutes({L"172.30.1.0/24"});
    return vpn;
  }

  CTestNamespace client_;
  CTempDir dir_;
  std::unique_ptr<COpenVpnBed> bed_;
  std::unique_ptr<IForwardTable> table_;
};

TEST_F(OpenVpnOptionsEndToEnd, OptionsARealServiceSendsStillConnect) {
  ASSERT_TRUE(bed_->StartServer("udp"));
  const std::string before = client_.RouteDump();
  auto vpn = MakeVpn(
      L"udp,1194,--data-ciphers AES-256-GCM:AES-128-GCM --auth SHA256 --remote-cert-tls server "
      L"--ping 10 --ping-restart 60 --reneg-sec 3600 --tun-mtu 1500 --mute-replay-warnings --mute 20");
  ASSERT_EQ(vpn->Start(), 0) << vpn->GetReport();
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_ALL_DONE)) << vpn->GetOutput();
  EXPECT_NE(client_.MainRoutes().find("172.30.1.0/24"), std::string::npos);
  vpn->Stop();
  EXPECT_FALSE(vpn->IsRunning());
  EXPECT_EQ(client_.RouteDump(), before);
}

// A service's record with its extra options joined by commas, as services
// write them.
TEST_F(OpenVpnOptionsEndToEnd, OptionsJoinedByCommasConnect) {
  ASSERT_TRUE(bed_->StartServer("udp"));
  auto vpn = MakeVpn(L"udp,1194,--comp-lzo,--tun-mtu 1500");
  ASSERT_EQ(vpn->Start(), 0) << vpn->GetReport();
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_ALL_DONE)) << vpn->Transcript();
  vpn->Stop();
  EXPECT_FALSE(vpn->IsRunning());
}

// Traffic while openvpn keeps logging (it renegotiates every two seconds):
// the per-packet letters share lines with the log. QUILLNET_RECORD_DIR keeps
// the transcript (tests/data/openvpn/openvpn-udp-verb5-traffic.log came
// from here).
TEST_F(OpenVpnOptionsEndToEnd, TrafficWhileTheLogGoesOn) {
  ASSERT_TRUE(bed_->StartServer("udp"));
  auto vpn = MakeVpn(L"udp,1194,--reneg-sec 2");
  ASSERT_EQ(vpn->Start(), 0);
  ASSERT_TRUE(vpn->WaitFor(GENERAL_VPN_STATE_ALL_DONE)) << vpn->GetOutput();
  EXPECT_EQ(Shell("ping -q -c 60 -i 0.1 -W 2 10.8.0.1"), 0);
  std::uint32_t sent = 0, received = 0;
  vpn->GetStatistics(sent, received);
  vpn->Stop();
  EXPECT_GE(sent, 60u);
  EXPECT_GE(received, 60u);
  if (const char* keep = std::getenv("QUILLNET_RECORD_DIR"))
    std::ofstream(fs::path(keep) / "openvpn-udp-verb5-traffic.log", std::ios::binary) << vpn->Transcript();
}

TEST_F(OpenVpnOptionsEndToEnd, ForgedOptionsStartNothing) {
  ASSERT_TRUE(bed_->StartServer("udp"));
  const fs::path marker = dir_.Path() / "ran";
  const fs::path script = dir_.Path() / "up.sh";
  std::ofstream(script) << "#!/bin/sh\ntouch " << marker.string() << "\n";
  fs::permissions(script, fs::perms::owner_all);
  const std::wstring s = script.wstring();
  for (const std::wstring& params : {L"udp,1194,--script-security 2 --up " + s,
                                     L"udp,1194,--verb 5 --script-security 2 --route-up " + s,
                                     L"udp,1194,--log " + (dir_.Path() / "overwritten").wstring(),
                                     L"udp,1194 --script-security 2 --up " + s}) {
    auto vpn = MakeVpn(params);
    EXPECT_EQ(vpn->Start(), OPEN_VPN_ERROR_REFUSED_SETTING) << params;
    EXPECT_FALSE(vpn->IsRunning());
    vpn->Stop();
  }
  auto vpn = MakeVpn(L"udp,1194");
  vpn->SetServerHost(L"10.99.0.1 1194 --script-security 2 --up " + s + L" --remote 10.99.0.1");
  EXPECT_EQ(vpn->Start(), OPEN_VPN_ERROR_REFUSED_SETTING);
  EXPECT_FALSE(vpn->IsRunning());
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_FALSE(fs::exists(dir_.Path() / "overwritten"));
}

// With no openvpn beside the client, the system's comes from its fixed path:
// a program of that name earlier on the search path is never run.
TEST(OpenVpnProgram, NeverFoundThroughTheSearchPath) {
  LoadTextTable();
  CTempDir dir;
  const fs::path marker = dir.Path() / "ran";
  std::ofstream(dir.Path() / "openvpn") << "#!/bin/sh\ntouch " << marker.string() << "\nsleep 30\n";
  fs::permissions(dir.Path() / "openvpn", fs::perms::owner_all);
  fs::create_directory(dir.Path() / "client");
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", (dir.Path().string() + ":" + saved).c_str(), 1);
  auto table = CreateLinuxForwardTable("/run");
  COpenVpn vpn(*table);
  vpn.openVpnDirectory = (dir.Path() / "client").wstring() + L"/";
  vpn.systemOpenVpnProgram = (dir.Path() / "not-installed").wstring();
  vpn.SetServerHost(L"10.99.0.1");
  vpn.openVpnParams = L"udp,1194";
  const std::int32_t result = vpn.Start();
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(result, OPEN_VPN_ERROR_EXEC);
  EXPECT_FALSE(vpn.IsRunning());
  vpn.StopChild();
  EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
