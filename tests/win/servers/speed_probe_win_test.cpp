// The Winsock probers against real loopback peers, under Wine in our runs.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "platform/message_target.h"
#include "servers/speed_test.h"

namespace {

using namespace std::chrono_literals;

class CSocketLibrary {
 public:
  CSocketLibrary() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~CSocketLibrary() {
    if (ok_) WSACleanup();
  }
  bool ok_ = false;
};

// Answers every datagram on 127.0.0.1 after a delay, like a time server.
class CLoopbackTimeServer {
 public:
  explicit CLoopbackTimeServer(int delayMs) : delayMs_(delayMs) {
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof local;
    if (socket_ == INVALID_SOCKET || bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
      return;
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~CLoopbackTimeServer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  std::uint16_t Port() const { return port_; }
  int Requests() const { return requests_.load(); }

 private:
  void Run() {
    // Bounded whatever the test does.
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!stop_.load() && std::chrono::steady_clock::now() < end) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(socket_, &set);
      timeval tv{0, 20000};
      if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
      char buffer[512];
      sockaddr_in from{};
      int fromLength = sizeof from;
      const int n = recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n <= 0) continue;
      ++requests_;
      Sleep(static_cast<DWORD>(delayMs_));
      char answer[48] = {0x1C};
      sendto(socket_, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }
  int delayMs_;
  SOCKET socket_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

std::map<std::int32_t, std::int32_t> RunUntilResults(CSpeedTest& test, CMessageQueue& queue, std::size_t count) {
  std::map<std::int32_t, std::int32_t> results;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (results.size() < count && std::chrono::steady_clock::now() < deadline)
    if (auto m = queue.Wait(20))
      if (static_cast<std::int32_t>(m->lParam) != kSpeedTesting)
        results[static_cast<std::int32_t>(m->wParam)] = static_cast<std::int32_t>(m->lParam);
  test.Stop();
  return results;
}

VpnServerMap Hosts(std::initializer_list<const wchar_t*> hosts) {
  VpnServerMap servers;
  std::int32_t id = 1;
  for (const wchar_t* host : hosts) {
    servers[id].id = id;
    servers[id].host = host;
    ++id;
  }
  return servers;
}

TEST(WinsockProbes, UdpMeasuresALoopbackPeerAndSurvivesARefusedPort) {
  CSocketLibrary library;
  ASSERT_TRUE(library.ok_);
  CLoopbackTimeServer server(40);
  ASSERT_NE(server.Port(), 0);
  CMessageQueue queue;
  SpeedTestOptions options;
  options.udpPort = server.Port();
  CSpeedTest test(queue, options);
  // 127.0.0.3 has no listener: its port-unreachable must not jam the socket
  // for the peer that does answer.
  QueueUntested(Hosts({L"127.0.0.3", L"127.0.0.1", L"not an address"}), *test.LockQueues());
  test.Start({0, 1});
  const auto results = RunUntilResults(test, queue, 3);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results.at(1), kSpeedTimeout);
  EXPECT_GE(results.at(2), 39);
  EXPECT_LT(results.at(2), 1000);  // measured, not timed out; accuracy is the benchmark's
  EXPECT_EQ(results.at(3), kSpeedTimeout);
  EXPECT_EQ(server.Requests(), 1);
}

TEST(WinsockProbes, IcmpEchoToLoopback) {
  CSocketLibrary library;
  ASSERT_TRUE(library.ok_);
  auto* probe = new CSocketPing_ICMP(ProbeClockMs);
  const bool opened = probe->Open() == 0;
  probe->Close();
  if (!opened) GTEST_SKIP() << "no raw ICMP socket here (it needs administrator rights, or Wine's raw socket support)";
  CMessageQueue queue;
  CSpeedTest test(queue);
  QueueUntested(Hosts({L"127.0.0.1", L"999.0.0.1"}), *test.LockQueues());
  test.Start({1, 0});
  const auto results = RunUntilResults(test, queue, 2);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_GE(results.at(1), 0);
  EXPECT_LT(results.at(1), 1000);  // an answer, not a timeout
  EXPECT_EQ(results.at(2), kSpeedTimeout);
}

TEST(WinsockProbes, ClockIsMilliseconds) {
  const Tick before = ProbeClockMs();
  Sleep(50);
  const std::uint32_t elapsed = TickElapsed(ProbeClockMs(), before);
  EXPECT_GE(elapsed, 45u);
  EXPECT_LT(elapsed, 500u);
}

}  // namespace
