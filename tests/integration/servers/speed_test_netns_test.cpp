// The speed test against real sockets and the real kernel: the servers sit
// behind a TUN device in a namespace of the test's own, answered by a
// responder with per-address delays.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "platform/message_target.h"
#include "servers/policy_chooser.h"
#include "servers/speed_test.h"
#include "text/text_table.h"
#include "tools/netns_linux.h"
#include "tools/tun_responder_linux.h"

namespace {

using namespace std::chrono_literals;

const char kLocal[] = "10.77.0.1/24";
const char kForeign[] = "10.77.0.250";

std::string Peer(int last) { return "10.77.0." + std::to_string(last); }

struct Server {
  std::int32_t id;
  std::string host;
  PeerBehaviour behaviour;
};

VpnServerMap MakeMap(const std::vector<Server>& servers) {
  VpnServerMap map;
  for (const Server& s : servers) {
    VpnServerInfo& info = map[s.id];
    info.id = s.id;
    info.title = L"server " + std::to_wstring(s.id);
    info.host = std::wstring(s.host.begin(), s.host.end());
    info.categories = {L"china"};
    info.protocols = L"pptp";
  }
  return map;
}

// Everything the "dialog" saw, per kind (0 ICMP, 1 UDP).
struct Log {
  std::map<std::int32_t, std::vector<std::int32_t>> results[2];  // finals in order
  std::map<std::int32_t, int> testing[2];                        // "-2" notices
  int inFlight[2] = {0, 0};
  int maxInFlight[2] = {0, 0};
  std::map<std::int32_t, std::vector<std::wstring>> summaries;   // speed cell after each message
};

void Record(Log& log, CServerChooser& chooser, const PostedMessage& m) {
  const int kind = m.message == kMsgIcmpResult ? 0 : 1;
  const auto id = static_cast<std::int32_t>(m.wParam);
  const auto value = static_cast<std::int32_t>(m.lParam);
  if (value == kSpeedTesting) {
    ++log.testing[kind][id];
    log.maxInFlight[kind] = std::max(log.maxInFlight[kind], ++log.inFlight[kind]);
  } else {
    --log.inFlight[kind];
    log.results[kind][id].push_back(value);
  }
  const int row = chooser.OnSpeedResult(m.message, m.wParam, m.lParam);
  if (row >= 0) log.summaries[id].push_back(chooser.Rows()[row].cells[2]);
}

// Runs the message loop until `done` says so or `limit` passes.
template <typename Done>
void Pump(CMessageQueue& queue, Log& log, CServerChooser& chooser, std::chrono::milliseconds limit, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline)
    if (auto m = queue.Wait(20)) Record(log, chooser, *m);
}

class SpeedTestNetns : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    std::string whyNot;
    if (!CanUseTestNetns(whyNot)) GTEST_SKIP() << whyNot;
  }

  // Inside a fresh namespace: brings up the responder's device with the
  // servers' behaviour, then runs `body`.
  void RunBed(const std::string& tag, const std::vector<Server>& servers, const std::string& pingGroups,
              const std::function<void(CTunResponder&)>& body) {
    CTestNetns ns(tag);
    ASSERT_TRUE(ns.Ok()) << "could not make namespace " << ns.Name();
    if (!pingGroups.empty()) {
      ASSERT_TRUE(ns.Exec("sysctl -w net.ipv4.ping_group_range=\"" + pingGroups + "\""));
    }
    const std::string device = "qvt" + tag + std::to_string(getpid() % 100000);
    const bool entered = ns.RunInside([&] {
      CTunResponder responder(device, 20000);
      ASSERT_TRUE(responder.Ok()) << "no TUN device";
      ASSERT_TRUE(ns.Ip("addr add " + std::string(kLocal) + " dev " + device));
      ASSERT_TRUE(ns.Ip("link set " + device + " up"));
      for (const Server& s : servers) responder.SetPeer(s.host, s.behaviour);
      responder.SetForeignSource(kForeign);
      responder.Start();
      body(responder);
    });
    EXPECT_TRUE(entered) << "could not enter " << ns.Name();
  }
};

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

PeerBehaviour Answer(int icmpMs, int udpMs) { return {PeerMode::Answer, icmpMs, PeerMode::Answer, udpMs}; }

// A result can never beat the peer's delay; how close it comes is the
// benchmark's business, since a busy machine adds its own wait.
void ExpectNear(std::int32_t measured, int delay, const std::string& what) {
  EXPECT_GE(measured, delay - 1) << what;
  EXPECT_LT(measured, 1000) << what << ": a measured answer, not a timeout";
}

TEST_F(SpeedTestNetns, DelaysDropsWrongAnswersAndTheRetestCycle) {
  const std::vector<Server> servers = {
      {1, Peer(11), Answer(15, 25)},
      {2, Peer(12), Answer(60, 45)},
      {3, Peer(13), Answer(120, 130)},
      {4, Peer(14), {PeerMode::Drop, 0, PeerMode::Drop, 0}},
      {5, Peer(15), {PeerMode::Unreachable, 5, PeerMode::Answer, 35}},
      {6, Peer(16), {PeerMode::Foreign, 5, PeerMode::Foreign, 5}},
      {7, Peer(17), {PeerMode::Answer, 10, PeerMode::Empty, 5}},
      {8, Peer(18), Answer(210, 220)},
      {9, Peer(19), Answer(240, 230)},
      {10, Peer(20), Answer(90, 300)},
      {11, Peer(21), Answer(33, 70)},
      {12, "10.77.0.x", Answer(5, 5)},
      {-3, Peer(23), Answer(5, 5)},
  };
  RunBed("sp", servers, "", [&](CTunResponder& responder) {
    CMessageQueue queue;
    CSpeedTest speedTest(queue);
    CServerChooser chooser(MakeMap(servers), speedTest);
    chooser.SetUp({});
    const double cpuBefore = ProcessCpuSeconds();
    speedTest.Start({});
    Log log;
    Pump(queue, log, chooser, 9s, [&] {
      for (int kind = 0; kind < 2; ++kind) {
        if (log.results[kind].size() < 12) return false;
        if (log.testing[kind][4] < 2 || log.testing[kind][6] < 2) return false;
      }
      return true;
    });
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    EXPECT_TRUE(speedTest.Stop().empty());
    // Mostly waiting: an answer that stays unread (an empty datagram) would
    // turn a worker's loop into a spin for the rest of the run.
    EXPECT_LT(cpu, 0.6);

    for (int kind = 0; kind < 2; ++kind) {
      EXPECT_EQ(log.maxInFlight[kind], 5) << "kind " << kind;
      ASSERT_EQ(log.results[kind].size(), 12u) << "kind " << kind;
    }
    const auto first = [&](int kind, std::int32_t id) { return log.results[kind][id].front(); };
    for (const Server& s : servers) {
      if (s.id <= 0 || s.behaviour.icmp != PeerMode::Answer || s.id == 12) continue;
      ExpectNear(first(0, s.id), s.behaviour.icmpDelayMs, "ICMP of " + s.host);
      if (s.behaviour.udp == PeerMode::Answer) ExpectNear(first(1, s.id), s.behaviour.udpDelayMs, "UDP of " + s.host);
    }
    ExpectNear(first(1, 5), 35, "UDP beside an unreachable ICMP");
    EXPECT_EQ(first(0, 5), kSpeedTimeout) << "a destination-unreachable is no answer";
    EXPECT_EQ(first(0, 6), kSpeedTimeout) << "an echo reply from another address is no answer";
    EXPECT_EQ(first(1, 6), kSpeedTimeout) << "a datagram from another address is no answer";
    EXPECT_EQ(first(1, 7), kSpeedTimeout) << "an empty datagram is no answer";
    EXPECT_EQ(first(0, 12), kSpeedTimeout) << "a host that is not an address";
    EXPECT_EQ(first(1, 12), kSpeedTimeout);
    EXPECT_EQ(first(0, 4), kSpeedTimeout);
    EXPECT_EQ(first(1, 4), kSpeedTimeout);

    // Both missed: the row goes back to "(N/A)", never stays "Timeout", and
    // the server is probed again.
    for (std::int32_t id : {4, 6}) {
      const auto& texts = log.summaries[id];
      EXPECT_NE(std::find(texts.begin(), texts.end(), L"(N/A)"), texts.end()) << id;
      EXPECT_EQ(std::find(texts.begin(), texts.end(), L"Timeout"), texts.end()) << id;
      EXPECT_GE(responder.Requests(Peer(10 + id), false), 2) << id;
      EXPECT_GE(responder.Requests(Peer(10 + id), true), 2) << id;
    }
    // One kind answered: it keeps its time and is not probed again.
    EXPECT_EQ(responder.Requests(Peer(15), true), 1);
    EXPECT_EQ(chooser.Rows()[chooser.Servers().at(5).row].cells[2], std::to_wstring(first(1, 5)) + L" ms");
    EXPECT_EQ(responder.Requests(Peer(23), false), 0) << "a negative id is never probed";
    EXPECT_EQ(responder.Requests(Peer(23), true), 0);
  });
}

TEST_F(SpeedTestNetns, RemeasureWhileProbesAreInFlight) {
  const std::vector<Server> servers = {
      {1, Peer(31), Answer(300, 280)}, {2, Peer(32), Answer(260, 320)}, {3, Peer(33), Answer(310, 290)}};
  RunBed("rm", servers, "", [&](CTunResponder& responder) {
    CMessageQueue queue;
    CSpeedTest speedTest(queue);
    CServerChooser chooser(MakeMap(servers), speedTest);
    chooser.SetUp({0, 0, 0, 2, 0});
    speedTest.Start({});
    Log log;
    Pump(queue, log, chooser, 3s, [&] { return log.testing[0].size() == 3 && log.testing[1].size() == 3; });
    ASSERT_EQ(log.inFlight[0] + log.inFlight[1], 6);
    chooser.Remeasure();
    EXPECT_EQ(chooser.Rows()[0].cells[2], L"(N/A)");
    EXPECT_EQ(chooser.SelectedServer()->id, 2);
    Pump(queue, log, chooser, 5s, [&] {
      for (int kind = 0; kind < 2; ++kind)
        for (std::int32_t id = 1; id <= 3; ++id)
          if (log.results[kind][id].size() < 2) return false;
      return true;
    });
    speedTest.Stop();
    for (const Server& s : servers) {
      for (int kind = 0; kind < 2; ++kind) {
        const int delay = kind == 0 ? s.behaviour.icmpDelayMs : s.behaviour.udpDelayMs;
        const auto& results = log.results[kind][s.id];
        ASSERT_EQ(results.size(), 2u) << s.host;
        ExpectNear(results[0], delay, "in-flight result of " + s.host);
        ExpectNear(results[1], delay, "remeasured result of " + s.host);
        EXPECT_EQ(responder.Requests(s.host, kind == 1), 2) << s.host;
      }
    }
    // The in-flight result was shown, then the server was measured again.
    const auto& texts = log.summaries[1];
    const auto shown = std::find_if(texts.begin(), texts.end(),
                                    [](const std::wstring& t) { return t.find(L" ms") != std::wstring::npos; });
    ASSERT_NE(shown, texts.end());
    EXPECT_NE(std::find(shown, texts.end(), L"Test..."), texts.end());
  });
}

TEST_F(SpeedTestNetns, UnprivilegedIcmpSocketsWhereTheSystemOffersThem) {
  const std::vector<Server> servers = {{1, Peer(41), Answer(20, 20)},
                                       {2, Peer(42), Answer(55, 55)},
                                       {3, Peer(43), {PeerMode::Drop, 0, PeerMode::Drop, 0}},
                                       {4, Peer(44), {PeerMode::Unreachable, 5, PeerMode::Drop, 0}},
                                       {5, Peer(45), {PeerMode::Foreign, 5, PeerMode::Drop, 0}}};
  RunBed("pg", servers, "0 2147483647", [&](CTunResponder&) {
    ASSERT_TRUE(DropRawSocketRight());
    {
      auto* prober = new CSocketPing_ICMP(ProbeClockMs);
      ASSERT_EQ(prober->Open(), 0);
      EXPECT_TRUE(prober->UsesDatagramSocket()) << "raw sockets should be refused here";
      prober->Close();
    }
    CMessageQueue queue;
    CSpeedTest speedTest(queue);
    CServerChooser chooser(MakeMap(servers), speedTest);
    chooser.SetUp({});
    speedTest.Start({1, 0});
    Log log;
    Pump(queue, log, chooser, 4s, [&] { return log.results[0].size() == 5; });
    speedTest.Stop();
    ASSERT_EQ(log.results[0].size(), 5u);
    ExpectNear(log.results[0][1].front(), 20, "ICMP over the datagram socket");
    ExpectNear(log.results[0][2].front(), 55, "ICMP over the datagram socket");
    EXPECT_EQ(log.results[0][3].front(), kSpeedTimeout);
    EXPECT_EQ(log.results[0][4].front(), kSpeedTimeout);
    EXPECT_EQ(log.results[0][5].front(), kSpeedTimeout);
    // With the UDP worker switched off a timeout leaves "Unknown" for good.
    EXPECT_EQ(chooser.Rows()[chooser.Servers().at(3).row].cells[2], L"Unknown");
  });
}

TEST_F(SpeedTestNetns, NoRightToAnIcmpSocketEndsEveryProbeAsATimeout) {
  const std::vector<Server> servers = {{1, Peer(51), Answer(10, 10)}, {2, Peer(52), Answer(10, 10)}};
  RunBed("nr", servers, "", [&](CTunResponder& responder) {
    ASSERT_TRUE(DropRawSocketRight());
    {
      auto* prober = new CSocketPing_ICMP(ProbeClockMs);
      EXPECT_EQ(prober->Open(), -1);
      prober->Close();
    }
    CMessageQueue queue;
    CSpeedTest speedTest(queue);
    CServerChooser chooser(MakeMap(servers), speedTest);
    chooser.SetUp({});
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    speedTest.Start({});
    Log log;
    Pump(queue, log, chooser, 4s, [&] { return log.results[0].size() == 2 && log.results[1].size() == 2; });
    const auto took = std::chrono::steady_clock::now() - started;
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    speedTest.Stop();
    ASSERT_EQ(log.results[0].size(), 2u);
    EXPECT_EQ(log.results[0][1].front(), kSpeedTimeout);
    EXPECT_EQ(log.results[0][2].front(), kSpeedTimeout);
    ExpectNear(log.results[1][1].front(), 10, "UDP still works");
    EXPECT_GE(took, 990ms);
    EXPECT_EQ(responder.Requests(Peer(51), false), 0);
    // A spinning worker would burn about a second of CPU here.
    EXPECT_LT(cpu, 0.3) << "the ICMP worker without a socket must sleep, not spin";
  });
}

}  // namespace
