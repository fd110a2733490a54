#include "vpn/open_vpn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <cctype>
#include <cstring>

#include "fakes/fake_forward_table.h"
#include "text/text_table.h"
#include "vpn/open_vpn_options.h"

namespace {

TEST(OpenVpnParams, SplitsAtTheFirstTwoCommas) {
  struct Case {
    std::wstring text, protocol, port, extra;
  } cases[] = {
      {L"tcp,443", L" tcp-client", L"443", L""},
      {L"TCP,443", L"", L"443", L""},
      {L"udp,1194,--comp-lzo,--tun-mtu 1500", L" udp", L"1194", L"--comp-lzo,--tun-mtu 1500"},
      {L"udp", L"", L"", L""},
      {L"", L"", L"", L""},
      {L"udp,,", L" udp", L"", L""},
      {L"sctp,99", L"", L"99", L""},
  };
  for (const Case& c : cases) {
    const OpenVpnParams p = SplitOpenVpnParams(c.text);
    EXPECT_EQ(p.protocolPiece, c.protocol) << c.text;
    EXPECT_EQ(p.port, c.port) << c.text;
    EXPECT_EQ(p.extraOptions, c.extra) << c.text;
  }
}

TEST(OpenVpnCommandLine, PiecesInOrder) {
#ifdef _WIN32
  const std::wstring dir = L"C:\\Program Files\\Quillnet\\openvpn\\";
  const std::wstring program = L"\"C:\\Program Files\\Quillnet\\openvpn\\openvpn.exe\"";
  const std::wstring ca = L"\"C:\\Program Files\\Quillnet\\openvpn\\\\ca.crt\"";
  const std::wstring service = L" --service OPENVPN_EXIT_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
#else
  const std::wstring dir = L"/nonexistent/quillnet/openvpn/";
  const std::wstring program = L"\"/usr/sbin/openvpn\"";  // never through the search path
  const std::wstring ca = L"\"/nonexistent/quillnet/openvpn//ca.crt\"";
  const std::wstring service;
#endif
  const std::wstring common = L" --nobind --dev tap --auth-user-pass  --pull --ca " + ca + L" --tls-client" +
                              service + L" --remap-usr1 SIGTERM --verb 5";
  struct Case {
    const char* name;
    OpenVpnCommand command;
    std::wstring expected;
  } cases[] = {
      {"udp, listed routes, no proxy",
       {dir, L"203.0.113.7", L"udp,1194", RouteModeListedRoutes, 0, L"", 0},
       program + L"  --proto  udp --mssfix 1320 --remote 203.0.113.7 1194" + common + L" "},
      {"tcp, all traffic, HTTP proxy, extras",
       {dir, L"vpn.example", L"tcp,443,--comp-lzo", RouteModeDefaultGateway, 1, L"10.0.0.9", 8080},
       program + L"  --proto  tcp-client --mssfix 1320 --remote vpn.example 443" + common +
           L" --redirect-gateway def1 --http-proxy 10.0.0.9 8080 stdin --comp-lzo"},
      {"options joined by commas, Windows tunnel options",
       {dir, L"h", L"udp,1194,--comp-lzo,--tun-mtu 1500,--route-method exe,--block-outside-dns", RouteModeListedRoutes, 0,
        L"", 0},
       program + L"  --proto  udp --mssfix 1320 --remote h 1194" + common +
           (kOpenVpnOnWindows ? L" --comp-lzo --tun-mtu 1500 --route-method exe --block-outside-dns"
                              : L" --comp-lzo --tun-mtu 1500")},
      {"SOCKS proxy, bad protocol",
       {dir, L"h", L"TCP,443", RouteModePerApplication, 2, L"10.0.0.9", 8080},
       program + L"  --proto  --mssfix 1320 --remote h 443" + common + L" --socks-proxy 10.0.0.9 8080 "},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildOpenVpnCommandLine(c.command), c.expected) << c.name;
}

TEST(OpenVpnPush, ExtractAndParse) {
  const std::string buffer =
      "junk\nPUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.1,dhcp-option DNS 10.8.0.1,"
      "ifconfig 10.8.0.6 10.8.0.5'\nmore";
  const std::optional<std::string> message = ExtractPushMessage(buffer);
  ASSERT_TRUE(message);
  const OpenVpnPush push = ParsePushMessage(*message);
  EXPECT_EQ(push.localIp, L"10.8.0.6");
  EXPECT_EQ(push.gateway, L"10.8.0.1");
  EXPECT_EQ(push.dns, (std::vector<std::wstring>{L"10.8.0.1"}));
  EXPECT_FALSE(ExtractPushMessage("PUSH: Received control message: 'PUSH_REPLY,ifconfig 1.2.3.4"));

  struct Case {
    const char* message;
    std::optional<std::wstring> localIp, gateway;
    std::vector<std::wstring> dns;
  } cases[] = {
      {"'PUSH_REPLY,dhcp-option DNS 10.0.0.1,dhcp-option dns 10.0.0.2,ifconfig 10.0.0.9 255.255.255.0'",
       L"10.0.0.9", std::nullopt, {L"10.0.0.1", L"10.0.0.2"}},
      {"PUSH_REPLY,dhcp-option WINS 10.0.0.1,dhcp-option WINS 10.0.0.2", std::nullopt, std::nullopt, {}},
      {"PUSH_REPLY,route-gateway 1.1.1.1,route-gateway 2.2.2.2,ifconfig", std::nullopt, L"2.2.2.2", {}},
      {"PUSH_REPLY,,ifconfig  10.0.0.3,dhcp-option DNS", L"", std::nullopt, {}},
      {"PUSH_REPLY,Ifconfig 10.0.0.3", std::nullopt, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    const OpenVpnPush p = ParsePushMessage(c.message);
    EXPECT_EQ(p.localIp, c.localIp) << c.message;
    EXPECT_EQ(p.gateway, c.gateway) << c.message;
    EXPECT_EQ(p.dns, c.dns) << c.message;
  }
}

// Feeds openvpn's output straight into the parser and records what it says.
class CScriptedOpenVpn : public COpenVpn, public CGeneralVpnCallbackInterface {
 public:
  explicit CScriptedOpenVpn(IForwardTable& table) : COpenVpn(table) {
    SetCallback(this);
    SetCredentials(L"alice", L"secret");
    SetProxy(0, L"", 0, L"puser", L"ppass");
  }
  void Feed(std::string_view chunk) { OnOutput(chunk.data(), chunk.size()); }
  void End() { OnChildExit(); }
  void OnVpnStateChanged(CGeneralVpn* vpn) override { notes.push_back({vpn->GetState(), vpn->GetError()}); }

  std::vector<std::pair<std::int32_t, std::int32_t>> notes;
  std::vector<std::wstring> answers;

 protected:
  void AnswerPrompt(const std::wstring& answer) override {
    answers.push_back(answer);
    COpenVpn::AnswerPrompt(answer);
  }
};

class OpenVpnParsing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  CFakeForwardTable table_;
};

TEST_F(OpenVpnParsing, PromptsAreAnsweredOnlyAtTheEnd) {
  CScriptedOpenVpn vpn(table_);
  vpn.Feed("Enter Auth Username:");
  EXPECT_EQ(vpn.GetOutput(), "");
  vpn.Feed("Enter Auth Password:");
  vpn.Feed("Enter HTTP Proxy Username:");
  vpn.Feed("Enter SOCKS5 Proxy Password:");
  vpn.Feed("Enter Auth Username: and then more output");
  EXPECT_EQ(vpn.answers, (std::vector<std::wstring>{L"alice\n", L"secret\n", L"puser\n", L"ppass\n"}));
}

TEST_F(OpenVpnParsing, StatesFollowTheLog) {
  CScriptedOpenVpn vpn(table_);
  vpn.Feed("Control Channel MTU parms [ L:1621 ]\n");
  vpn.Feed("TLS: Initial packet from [AF_INET]10.0.0.1:1194\nxx Peer Connection Initiated with [AF_INET]");
  vpn.Feed("PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.1,dhcp-option DNS 10.8.0.1,"
           "dhcp-option DNS 10.8.0.2,ifconfig 10.8.0.6 255.255.255.0'\n");
  // The same push again is not handled twice.
  vpn.Feed("PUSH: Received control message: 'PUSH_REPLY,ifconfig 10.9.9.9 255.255.255.0'\n");
  EXPECT_EQ(vpn.GetLocalIp(), L"10.8.0.6");
  EXPECT_EQ(vpn.GetDns1(), L"10.8.0.1");
  EXPECT_EQ(vpn.GetDns2(), L"10.8.0.2");
  using P = std::pair<std::int32_t, std::int32_t>;
  EXPECT_EQ(vpn.notes, (std::vector<P>{{GENERAL_VPN_STATE_PREPARE, 0},
                                       {GENERAL_VPN_STATE_CONNECT, 0},
                                       {GENERAL_VPN_STATE_AUTHENTICATE, 0},
                                       {GENERAL_VPN_STATE_AUTHENTICATED, 0}}));
}

TEST_F(OpenVpnParsing, PushWithoutAddressFails) {
  CScriptedOpenVpn vpn(table_);
  vpn.Feed("PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.1'\nInitialization Sequence Completed\n");
  using P = std::pair<std::int32_t, std::int32_t>;
  EXPECT_EQ(vpn.notes, (std::vector<P>{{GENERAL_VPN_STATE_AUTHENTICATED, 0},
                                       {GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP}}));
  EXPECT_EQ(table_.adds(), 0);
  // The child's end after an error adds nothing.
  vpn.End();
  EXPECT_EQ(vpn.notes.size(), 2u);
}

TEST_F(OpenVpnParsing, AuthFailureIsNotADisconnection) {
  CScriptedOpenVpn vpn(table_);
  vpn.Feed("AUTH: Received control message: AUTH_FAILED\nSIGTERM[soft,auth-failure] received, process exiting\n");
  ASSERT_FALSE(vpn.notes.empty());
  EXPECT_EQ(vpn.notes.back(), std::make_pair(std::int32_t{GENERAL_VPN_STATE_AUTHENTICATE},
                                             std::int32_t{GENERAL_VPN_ERROR_INTERNAL}));
  vpn.End();
  EXPECT_EQ(vpn.notes.back().first, GENERAL_VPN_STATE_AUTHENTICATE);
}

TEST_F(OpenVpnParsing, ErrorsFromTheLog) {
  struct Case {
    const char* log;
    std::int32_t state, error;
  } cases[] = {
      {"TCP/UDP: Socket bind failed on local address [AF_INET][undef]:1194: Address in use\n",
       GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT},
      {"There are no TAP-Win32 adapters on this system.  You should be able to create\n", GENERAL_VPN_STATE_CONNECT,
       OPEN_VPN_ERROR_NO_ADAPTER},
      // What the openvpn we ship prints where no adapter exists, where all
      // are taken, and where Windows has no network adapter class at all.
      {"2026-12-10 19:47:46 There are no TAP-Windows, Wintun or ovpn-dco adapters on this system.  You should be able\n",
       GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      {"All tap-windows6 adapters on this system are currently in use or disabled.\r\n", GENERAL_VPN_STATE_CONNECT,
       OPEN_VPN_ERROR_NO_ADAPTER},
      {"2026-12-10 19:47:20 Error opening registry key: "
       "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\r\n"
       "2026-12-10 19:47:20 Exiting due to fatal error\r\n",
       GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      {"Error opening registry key: SYSTEM\\CurrentControlSet\\Control\\Network\\"
       "{4D36E972-E325-11CE-BFC1-08002BE10318}\n",
       GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
  };
  for (const Case& c : cases) {
    CScriptedOpenVpn vpn(table_);
    vpn.Feed(c.log);
    ASSERT_EQ(vpn.notes.size(), 1u) << c.log;
    EXPECT_EQ(vpn.notes[0], std::make_pair(c.state, c.error)) << c.log;
  }
  CScriptedOpenVpn vpn(table_);
  EXPECT_EQ(vpn.GetErrorText(OPEN_VPN_ERROR_TLS_ERROR), L"TLS Security Error: Date/Time/Credential is invalid?");
  EXPECT_EQ(vpn.GetErrorText(GENERAL_VPN_ERROR_CONNECT), L"Can not connect to the VPN server");
  EXPECT_EQ(vpn.GetErrorDetailText(42), L"");
}

TEST_F(OpenVpnParsing, TrafficLettersAfterCompletion) {
  SetUpHomeNetwork(table_);
  CScriptedOpenVpn vpn(table_);
  vpn.SetRouteMode(RouteModeNone);
  vpn.Feed("RwWr before completion\n");
  vpn.Feed("PUSH: Received control message: 'PUSH_REPLY,ifconfig 10.8.0.6 255.255.255.0'\n");
  vpn.Feed("Initialization Sequence Completed\n");
  ASSERT_EQ(vpn.GetState(), GENERAL_VPN_STATE_ALL_DONE);
  // The last letter is not settled yet but already shows.
  vpn.Feed("RwWr");
  std::uint32_t sent = 0, received = 0;
  EXPECT_EQ(vpn.GetStatistics(sent, received), 0);
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(received, 2u);
  vpn.Feed("2026-12-09 10:30:19 us=1 SIGTERM[hard,] received, process exiting\n");
  EXPECT_EQ(vpn.GetStatistics(sent, received), 0);
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(received, 2u);
  EXPECT_EQ(vpn.notes.back().first, GENERAL_VPN_STATE_DISCONNECTED);
}

// The recording's last lines, from just before completion to openvpn's
// exit, arriving in two reads cut at every position: the same counts and one
// disconnection, whether a cut falls in the completion line, in a run of
// letters, in a log word or in "SIGTERM[".
TEST_F(OpenVpnParsing, RecordedTailCountsTheSameWhereverItIsCut) {
  std::ifstream in(std::string(QUILLNET_TEST_DATA) + "/openvpn/openvpn-udp-verb5-traffic.log", std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  constexpr std::string_view kCompleted = "Initialization Sequence Completed";
  const std::size_t completed = log.find(kCompleted);
  ASSERT_NE(completed, std::string::npos);
  const std::size_t tailStart = log.rfind('\n', log.rfind('\n', completed) - 1) + 1;
  const std::string head = log.substr(0, tailStart);
  const std::string tail = log.substr(tailStart);
  ASSERT_NE(tail.find("SIGTERM[hard,]"), std::string::npos);

  TrafficLetters expected;
  std::istringstream lines(log.substr(completed + kCompleted.size()));
  for (std::string line; std::getline(lines, line);) {
    std::size_t n = 0;
    while (n < line.size() && std::strchr("rRwW", line[n])) ++n;
    if (n < line.size() && std::isalpha(static_cast<unsigned char>(line[n])) && n > 0) --n;
    for (std::size_t i = 0; i < n; ++i) (line[i] == 'w' || line[i] == 'W' ? expected.sent : expected.received)++;
  }
  ASSERT_GT(expected.sent, 50u);

  SetUpHomeNetwork(table_);
  for (std::size_t cut = 0; cut <= tail.size(); ++cut) {
    CScriptedOpenVpn vpn(table_);
    vpn.SetRouteMode(RouteModeNone);
    vpn.Feed(head);
    vpn.Feed(std::string_view(tail).substr(0, cut));
    vpn.Feed(std::string_view(tail).substr(cut));
    std::uint32_t sent = 0, received = 0;
    vpn.GetStatistics(sent, received);
    EXPECT_EQ(sent, expected.sent) << "cut at " << cut << ": " << tail.substr(cut, 20);
    EXPECT_EQ(received, expected.received) << "cut at " << cut << ": " << tail.substr(cut, 20);
    const auto disconnections = std::count(vpn.notes.begin(), vpn.notes.end(),
                                           std::pair<std::int32_t, std::int32_t>{GENERAL_VPN_STATE_DISCONNECTED, 0});
    EXPECT_EQ(disconnections, 1) << "cut at " << cut << ": " << tail.substr(cut, 20);
    if (HasFailure()) break;
  }
}

// Letters inside log words used to count as traffic: "write", "Restart",
// "SIGTERM" and the day in a Windows time stamp moved the counters.
TEST(OpenVpnTraffic, OnlyProgressLettersCount) {
  struct Case {
    const char* text;
    std::uint32_t sent, received;
  } cases[] = {
      {"RwWr\n", 2, 2},
      {"WRWR2026-12-09 10:30:19 us=5 TLS: soft reset sec=2\n", 2, 2},
      {"2026-12-09 10:30:19 us=5 write to TUN/TAP : Resource temporarily unavailable (code=11)\n", 0, 0},
      {"2026-12-09 us=5 SIGUSR1[soft,ping-restart] received, process restarting\nRestart pause, 5 second(s)\n", 0, 0},
      {"RwWed Dec 09 10:30:19 2026 Restart pause\n", 1, 1},
      {"wrRWRestart pause\n", 2, 2},
      {"Rw\nWr\n\nRRRR 2026\n", 2, 6},
      {"2026 us=1 x\nWWWW", 3, 0},  // the newest letter waits for what follows it
  };
  for (const Case& c : cases) {
    CTrafficLetterCounter counter;
    const TrafficLetters got = counter.Count(c.text);
    EXPECT_EQ(got.sent, c.sent) << c.text;
    EXPECT_EQ(got.received, c.received) << c.text;
  }
}

// A real verbosity-5 log with traffic flowing while openvpn renegotiated every
// two seconds (recorded on the test bed), cut at random places: the same
// counts, and only letters at line starts.
TEST(OpenVpnTraffic, RecordedTrafficCountsTheSameWhereverCut) {
  std::ifstream in(std::string(QUILLNET_TEST_DATA) + "/openvpn/openvpn-udp-verb5-traffic.log", std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(log.size(), 1000u);
  const std::size_t from = log.find("Initialization Sequence Completed\n");
  ASSERT_NE(from, std::string::npos);
  const std::string after = log.substr(from + 34);
  // Line by line: the run of letters a line starts with, less its last
  // letter when a word follows.
  TrafficLetters expected;
  std::size_t lettersInWords = 0;
  std::istringstream lines(after);
  for (std::string line; std::getline(lines, line);) {
    std::size_t n = 0;
    while (n < line.size() && std::strchr("rRwW", line[n])) ++n;
    if (n < line.size() && std::isalpha(static_cast<unsigned char>(line[n])) && n > 0) --n;
    for (std::size_t i = 0; i < n; ++i) (line[i] == 'w' || line[i] == 'W' ? expected.sent : expected.received)++;
    for (std::size_t i = n; i < line.size(); ++i) lettersInWords += std::strchr("rRwW", line[i]) != nullptr;
  }
  EXPECT_GT(expected.sent, 50u);
  EXPECT_GT(expected.received, 50u);
  EXPECT_GT(lettersInWords, 0u) << "the recording should hold log words with these letters";
  std::mt19937 rng(11);
  for (int round = 0; round < 50; ++round) {
    CTrafficLetterCounter counter;
    TrafficLetters got;
    for (std::size_t at = 0; at < after.size();) {
      const std::size_t n = 1 + rng() % (round % 2 ? 9 : 900);
      const TrafficLetters part = counter.Count(std::string_view(after).substr(at, n));
      got.sent += part.sent;
      got.received += part.received;
      at += n;
    }
    EXPECT_EQ(got.sent, expected.sent) << "round " << round;
    EXPECT_EQ(got.received, expected.received) << "round " << round;
  }
}

// Completion without any push has no address either: error 4 and no route,
// as for a push without one.
TEST_F(OpenVpnParsing, CompletionWithoutAnyPushIsALocalAddressError) {
  SetUpHomeNetwork(table_);
  const std::size_t rows = table_.CountRows();
  CScriptedOpenVpn vpn(table_);
  vpn.SetRouteMode(RouteModeListedRoutes);
  vpn.SetRoutes({L"10.0.0.0/8"});
  vpn.Feed("Peer Connection Initiated with [AF_INET]10.99.0.1:1194\n");
  vpn.Feed("Initialization Sequence Completed\n");
  vpn.Feed("Initialization Sequence Completed\n");
  EXPECT_EQ(vpn.GetStatus(), (VpnStatus{GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, 0}));
  ASSERT_FALSE(vpn.notes.empty());
  EXPECT_EQ(vpn.notes.back(), (std::pair<std::int32_t, std::int32_t>{GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP}));
  for (const auto& note : vpn.notes) EXPECT_NE(note.first, GENERAL_VPN_STATE_ALL_DONE);
  EXPECT_EQ(table_.CountRows(), rows);
}

TEST_F(OpenVpnParsing, ChunksCutAnywhereGiveTheSameStates) {
  const std::string log =
      "Control Channel MTU parms [ L:1621 D:1170 ]\nTLS: Initial packet from [AF_INET]10.99.0.1:1194, sid=1\n"
      "Peer Connection Initiated with [AF_INET]10.99.0.1:1194\n"
      "PUSH: Received control message: 'PUSH_REPLY,route-gateway 10.8.0.1,ifconfig 10.8.0.2 255.255.255.0'\n"
      "Initialization Sequence Completed\nWRWRwr";
  std::vector<std::pair<std::int32_t, std::int32_t>> reference;
  for (std::size_t cut = 1; cut < log.size(); cut += 7) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    CScriptedOpenVpn vpn(table);
    for (std::size_t at = 0; at < log.size(); at += cut) vpn.Feed(std::string_view(log).substr(at, cut));
    if (reference.empty()) reference = vpn.notes;
    EXPECT_EQ(vpn.notes, reference) << "chunks of " << cut;
    EXPECT_EQ(vpn.GetState(), GENERAL_VPN_STATE_ALL_DONE) << "chunks of " << cut;
  }
  EXPECT_EQ(reference.back().first, GENERAL_VPN_STATE_ALL_DONE);
}

std::string ReadTranscript(const char* name) {
  std::ifstream in(std::string(QUILLNET_TEST_DATA) + "/openvpn/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Real openvpn logs at verbosity 5 from the test bed, fed in random cuts
// after prompts that arrive split across chunks.
TEST_F(OpenVpnParsing, RecordedTranscriptsInRandomChunks) {
  for (const char* name : {"openvpn-udp-verb5.log", "openvpn-tcp-verb5.log"}) {
    const std::string log = ReadTranscript(name);
    ASSERT_FALSE(log.empty()) << name;
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
      CFakeForwardTable table;
      SetUpHomeNetwork(table);
      CScriptedOpenVpn vpn(table);
      vpn.Feed("2026-12-09 Enter Auth User");
      vpn.Feed("name:");
      vpn.Feed("Enter Auth Pass");
      EXPECT_EQ(vpn.answers.size(), 1u);
      vpn.Feed("word:");
      EXPECT_EQ(vpn.answers, (std::vector<std::wstring>{L"alice\n", L"secret\n"}));
      for (std::size_t at = 0; at < log.size();) {
        const std::size_t n = 1 + rng() % 700;
        vpn.Feed(std::string_view(log).substr(at, n));
        at += n;
      }
      // openvpn may print the push again; it is handled once.
      vpn.Feed("PUSH: Received control message: 'PUSH_REPLY,ifconfig 10.77.0.9 255.255.255.0'\n");
      ASSERT_EQ(vpn.GetState(), GENERAL_VPN_STATE_ALL_DONE) << name << " round " << round;
      EXPECT_EQ(vpn.GetLocalIp(), L"10.8.0.2");
      EXPECT_EQ(vpn.GetDns1(), L"10.8.0.1");
      EXPECT_EQ(vpn.GetDns2(), L"10.8.0.53");
      std::vector<std::int32_t> firsts;
      for (const auto& [state, error] : vpn.notes) {
        EXPECT_EQ(error, 0);
        if (std::find(firsts.begin(), firsts.end(), state) == firsts.end()) firsts.push_back(state);
      }
      EXPECT_EQ(firsts, (std::vector<std::int32_t>{GENERAL_VPN_STATE_PREPARE, GENERAL_VPN_STATE_CONNECT,
                                                   GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_STATE_AUTHENTICATED,
                                                   GENERAL_VPN_STATE_MODIFY_ROUTE, GENERAL_VPN_STATE_ALL_DONE}));
    }
  }
}

TEST_F(OpenVpnParsing, HostileOutputStaysBounded) {
  CScriptedOpenVpn vpn(table_);
  std::mt19937 rng(3);
  std::string junk(64 * 1024, '\0');
  for (int i = 0; i < 40; ++i) {  // 2.5 MiB of binary without a line end
    for (char& c : junk) c = static_cast<char>(rng());
    vpn.Feed(junk);
  }
  EXPECT_LE(vpn.GetOutput().size(), CConsoleRedirector::kMaxBufferedOutput);
  // A NUL before a milestone hides it from the search, as in a C string.
  vpn.ClearOutput();
  vpn.Feed(std::string("x\0TLS: Initial packet from", 27));
  EXPECT_TRUE(vpn.notes.empty());
}

}  // namespace
