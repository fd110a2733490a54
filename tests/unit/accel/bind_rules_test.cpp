#include "accel/bind_rules.h"

#include <gtest/gtest.h>

#include <cstring>

#include "account/ini_engine.h"
#include "routing/route_table.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

#ifdef _WIN32
const std::wstring kProgram = L"C:\\Apps\\browser.exe";
const char kProgramNarrow[] = "C:\\Apps\\browser.exe";
#else
const std::wstring kProgram = L"/opt/apps/browser";
const char kProgramNarrow[] = "/opt/apps/browser";
#endif

std::string Section(const std::string& name, const std::string& full, int active, int async = 0, int force = 0) {
  return "[" + name + "]\r\nAppFullname=" + full + "\r\nUseAsyncMode=" + std::to_string(async) +
         "\r\nForceWSPBind=" + std::to_string(force) + "\r\nActive=" + std::to_string(active) + "\r\n";
}

TEST(BindActivation, TheActiveSectionOfThisProgramDecides) {
  const std::string me = kProgramNarrow;
  struct Case {
    const char* what;
    std::string file;
    AppBindOptions expected;
  } cases[] = {
      {"empty", "", {}},
      {"inactive", Section("a", me, 0), {}},
      {"active", Section("a", me, 1), {true, false, false}},
      {"options", Section("a", me, 1, 1, 1), {true, true, true}},
      {"another program", Section("a", me + "2", 1), {}},
      {"prefix only", Section("a", me.substr(0, me.size() - 1), 1), {}},
      {"first inactive, second active", Section("a", me, 0, 1, 1) + Section("b", me, 1, 0, 1), {true, false, true}},
      {"Active other than 1", Section("a", me, 2), {}},
      {"no AppFullname", "[a]\r\nActive=1\r\n", {}},
      {"binary", std::string("\0\xff[\x01]\nActive=1\n\0AppFullname=", 28) + me, {}},
      {"half written", Section("a", me, 1).substr(0, Section("a", me, 1).size() - 4), {}},
      {"half written after the flag", Section("a", me, 1) + "[b]\r\nAppFull", {true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FindActivation(CIniDocument::Parse(c.file), kProgram), c.expected);
  }
  EXPECT_FALSE(FindActivation(CIniDocument::Parse(Section("a", "", 1)), L"").activated);
}

#ifdef _WIN32
TEST(BindActivation, WindowsPathsIgnoreCase) {
  EXPECT_TRUE(FindActivation(CIniDocument::Parse(Section("a", "c:\\APPS\\Browser.EXE", 1)), kProgram).activated);
}
#else
TEST(BindActivation, LinuxPathsKeepCase) {
  EXPECT_FALSE(FindActivation(CIniDocument::Parse(Section("a", "/opt/apps/Browser", 1)), kProgram).activated);
}
#endif

TEST(BindActivation, WatchRereadsOnlyAChangedFileAndNotTooOften) {
  Tick now = 1000;
  int reads = 0;
  std::string file = Section("a", kProgramNarrow, 1);
  FileIdentity current;
  current.file = 1;
  bool missing = false;
  CActivationWatch watch(
      kProgram,
      [&](const FileIdentity* known, FileIdentity& identity, std::string& bytes) {
        if (missing) return FileReadResult::Missing;
        identity = current;
        if (known && *known == current) return FileReadResult::Unchanged;
        ++reads;
        bytes = file;
        return FileReadResult::Read;
      },
      [&] { return now; });
  EXPECT_TRUE(watch.Current().activated);
  EXPECT_EQ(reads, 1);
  file = Section("a", kProgramNarrow, 0);
  current.file = 2;
  now += CActivationWatch::kRecheckMs - 1;
  EXPECT_TRUE(watch.Current().activated) << "looked again too soon";
  now += 1;
  EXPECT_FALSE(watch.Current().activated);
  EXPECT_EQ(reads, 2);
  now += CActivationWatch::kRecheckMs;
  watch.Current();
  EXPECT_EQ(reads, 2) << "an unchanged file is not read again";
  missing = true;
  file = Section("a", kProgramNarrow, 1);
  current.file = 3;
  now += CActivationWatch::kRecheckMs;
  EXPECT_FALSE(watch.Current().activated);
  missing = false;
  now += CActivationWatch::kRecheckMs;
  EXPECT_TRUE(watch.Current().activated) << "a file that comes back is read again";
}

TEST(BindTunnel, RecordPublishesUpAndDown) {
  BindTunnelRecord record{};
  EXPECT_FALSE(ReadTunnelState(record).up);
  EXPECT_FALSE(PublishTunnelUp(record, 7, 0x0200080Au));
  EXPECT_FALSE(ReadTunnelState(record).up);
  ASSERT_TRUE(PublishTunnelUp(record, 8, 0x0200080Au));
  const TunnelState first = ReadTunnelState(record);
  EXPECT_TRUE(first.up);
  EXPECT_EQ(first.localIp, 0x0200080Au);
  PublishTunnelDown(record);
  EXPECT_FALSE(ReadTunnelState(record).up);
  ASSERT_TRUE(PublishTunnelUp(record, 8, 0x0300080Au));
  const TunnelState second = ReadTunnelState(record);
  EXPECT_NE(second.generation, first.generation);
  EXPECT_EQ(second.localIp, 0x0300080Au);
  // A writer caught half-way reads as down.
  record.sequence.store(record.sequence.load() | 1u);
  EXPECT_FALSE(ReadTunnelState(record).up);
}

TEST(BindDecisions, WhatHappensBeforeAConnect) {
  const std::uint32_t local = ParseIpv4(L"10.8.0.2");
  const TunnelState up{true, local, 1};
  const TunnelState down{};
  const AppBindOptions plain{true, false, false};
  const AppBindOptions async{true, true, false};
  const AppBindOptions force{true, false, true};
  const AppBindOptions off{};
  struct Case {
    const char* what;
    AppBindOptions options;
    TunnelState tunnel;
    const wchar_t* destination;
    bool bound;
    bool ask, wait, bind;
  } cases[] = {
      {"activated", plain, up, L"198.51.100.7", false, true, true, false},
      {"async", async, up, L"198.51.100.7", false, true, false, false},
      {"force binds an unbound socket", force, up, L"198.51.100.7", false, true, true, true},
      {"force leaves a bound one", force, up, L"198.51.100.7", true, true, true, false},
      {"not activated", off, up, L"198.51.100.7", false, false, false, false},
      {"tunnel down", plain, down, L"198.51.100.7", false, false, false, false},
      {"loopback", plain, up, L"127.0.0.1", false, false, false, false},
      {"loopback net", plain, up, L"127.9.9.9", false, false, false, false},
      {"any", plain, up, L"0.0.0.0", false, false, false, false},
      {"broadcast", plain, up, L"255.255.255.255", false, false, false, false},
      {"multicast", plain, up, L"239.1.2.3", false, false, false, false},
      {"the tunnel's own address", plain, up, L"10.8.0.2", false, false, false, false},
      {"the tunnel's peer", plain, up, L"10.8.0.1", false, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BindDecision d = DecideBind(c.options, c.tunnel, ParseIpv4(c.destination), c.bound);
    EXPECT_EQ(d.askRoute, c.ask);
    EXPECT_EQ(d.waitForReply, c.wait);
    EXPECT_EQ(d.bindToTunnel, c.bind);
  }
  const TunnelState noAddress{true, 0, 1};
  EXPECT_FALSE(DecideBind(force, noAddress, ParseIpv4(L"198.51.100.7"), false).bindToTunnel);
}

TEST(BindDecisions, Ipv4DestinationsPlainAndMapped) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = ParseIpv4(L"198.51.100.7");
  std::uint32_t a = 0;
  ASSERT_TRUE(Ipv4DestinationOf(&v4, sizeof v4, a));
  EXPECT_EQ(a, ParseIpv4(L"198.51.100.7"));
  EXPECT_FALSE(Ipv4DestinationOf(&v4, 4, a)) << "too short";
  EXPECT_FALSE(Ipv4DestinationOf(nullptr, sizeof v4, a));

  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_addr.s6_addr[10] = 0xFF;
  v6.sin6_addr.s6_addr[11] = 0xFF;
  std::memcpy(v6.sin6_addr.s6_addr + 12, &v4.sin_addr.s_addr, 4);
  a = 0;
  ASSERT_TRUE(Ipv4DestinationOf(&v6, sizeof v6, a));
  EXPECT_EQ(a, ParseIpv4(L"198.51.100.7"));
  v6.sin6_addr.s6_addr[10] = 0;  // a real IPv6 address
  EXPECT_FALSE(Ipv4DestinationOf(&v6, sizeof v6, a));
  sockaddr_storage other{};
  other.ss_family = AF_UNIX;
  EXPECT_FALSE(Ipv4DestinationOf(&other, sizeof other, a));
}

}  // namespace

namespace {

TEST(BindDecisions, TheTunnelAddressInTheDestinationsFamily) {
  const std::uint32_t local = ParseIpv4(L"10.8.0.2");
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  unsigned char out[28];
  ASSERT_EQ(TunnelBindAddress(&v4, local, out), sizeof(sockaddr_in));
  sockaddr_in got4;
  std::memcpy(&got4, out, sizeof got4);
  EXPECT_EQ(got4.sin_family, AF_INET);
  EXPECT_EQ(got4.sin_port, 0);
  EXPECT_EQ(got4.sin_addr.s_addr, local);

  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  ASSERT_EQ(TunnelBindAddress(&v6, local, out), sizeof(sockaddr_in6));
  sockaddr_in6 got6;
  std::memcpy(&got6, out, sizeof got6);
  EXPECT_EQ(got6.sin6_family, AF_INET6);
  EXPECT_EQ(got6.sin6_addr.s6_addr[10], 0xFF);
  EXPECT_EQ(got6.sin6_addr.s6_addr[11], 0xFF);
  EXPECT_EQ(std::memcmp(got6.sin6_addr.s6_addr + 12, &local, 4), 0);
  EXPECT_EQ(got6.sin6_addr.s6_addr[0], 0);
}

}  // namespace
