#include "servers/speed_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "platform/text_parse.h"

namespace {

using namespace std::chrono_literals;

TEST(EchoRequest, LayoutAndChecksum) {
  std::uint8_t packet[kEchoRequestSize];
  BuildEchoRequest(packet, 0x12345, 0x1FFFF, 0xA1B2C3D4);
  EXPECT_EQ(packet[0], 8);
  EXPECT_EQ(packet[1], 0);
  EXPECT_EQ(packet[4], 0x45);  // identifier, low 16 bits, little-endian
  EXPECT_EQ(packet[5], 0x23);
  EXPECT_EQ(packet[6], 0xFF);
  EXPECT_EQ(packet[7], 0xFF);
  for (int i = 8; i < 12; ++i) EXPECT_EQ(packet[i], 0);
  EXPECT_EQ(packet[12], 0xD4);
  EXPECT_EQ(packet[15], 0xA1);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(packet[16 + i], i);
  // A correct checksum makes the sum over the whole message come out zero.
  EXPECT_EQ(InternetChecksum(packet, sizeof packet), 0);
  packet[100] ^= 1;
  EXPECT_NE(InternetChecksum(packet, sizeof packet), 0);
}

TEST(EchoRequest, ChecksumKnownValues) {
  // The worked example of RFC 1071: 00 01 f2 03 f4 f5 f6 f7 sums to ddf2.
  const std::uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  EXPECT_EQ(InternetChecksum(rfc, sizeof rfc), static_cast<std::uint16_t>(~0xddf2));
  const std::uint8_t odd[] = {0x01};
  EXPECT_EQ(InternetChecksum(odd, 1), static_cast<std::uint16_t>(~0x0100));
}

TEST(TimeServiceRequest, FortyEightBytes) {
  const auto request = BuildTimeServiceRequest();
  EXPECT_EQ(request[0], 0x1B);
  for (std::size_t i = 1; i < request.size(); ++i) EXPECT_EQ(request[i], 0);
}

TEST(IcmpAnswer, WhatCountsAsAnEchoReply) {
  struct Case {
    const char* name;
    std::size_t length;
    bool withHeader;
    std::uint8_t type, code;
    std::uint8_t ihl;
    bool read, echo;
  } cases[] = {
      {"raw echo reply", 292, true, 0, 0, 5, true, true},
      {"raw 291 bytes", 291, true, 0, 0, 5, false, false},
      {"raw unreachable", 320, true, 3, 1, 5, true, false},
      {"raw echo request", 292, true, 8, 0, 5, true, false},
      {"raw reply code 1", 292, true, 0, 1, 5, true, false},
      {"raw with options", 300, true, 0, 0, 7, true, true},
      {"datagram echo reply", 272, false, 0, 0, 0, true, true},
      {"datagram short", 271, false, 0, 0, 0, false, false},
      {"datagram unreachable", 300, false, 3, 0, 0, true, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes(c.length, 0xEE);
    std::size_t at = 0;
    if (c.withHeader) {
      bytes[0] = static_cast<std::uint8_t>(0x40 | c.ihl);
      at = c.ihl * 4u;
    }
    bytes[at] = c.type;
    bytes[at + 1] = c.code;
    bool echo = true;
    EXPECT_EQ(JudgeIcmpDatagram(bytes.data(), bytes.size(), c.withHeader, echo), c.read) << c.name;
    EXPECT_EQ(echo, c.echo) << c.name;
  }
}

PendingProbe Probe(const wchar_t* host, std::uint32_t sendTime, std::int32_t state) {
  PendingProbe p;
  p.server.host = host;
  p.sendTime = sendTime;
  p.state = state;
  return p;
}

TEST(WorkerPass, WaitIsTheLeastTimeLeft) {
  struct Case {
    std::vector<std::uint32_t> sendTimes;
    Tick now;
    int wait;
  } cases[] = {
      {{1000}, 1000, 1000},
      {{1000, 1400}, 1500, 500},
      {{1000}, 1999, 1},
      {{1000}, 2000, 1},  // exactly a second: not yet timed out, wait a tick
      {{1000}, 2001, 0},  // past the second: the check right after the wait ends it
      {{0xFFFFFF00u}, 0x100, 488},  // across the clock's wrap
      {{5000}, 4000, 1000},         // clock behind the send time: never more than a second
  };
  for (const Case& c : cases) {
    std::vector<PendingProbe> pending;
    for (std::uint32_t t : c.sendTimes) pending.push_back(Probe(L"1.1.1.1", t, kSpeedTesting));
    EXPECT_EQ(ProbeWaitMs(pending, c.now), c.wait) << c.now;
  }
}

TEST(WorkerPass, AnswersAndTimeouts) {
  std::vector<PendingProbe> pending = {Probe(L"10.0.0.1", 100, kSpeedTesting), Probe(L"10.0.0.2", 100, kSpeedTesting),
                                       Probe(L"10.0.0.1", 300, kSpeedTesting), Probe(L"10.0.0.3", 100, 7),
                                       Probe(L"10.0.0.4", 0xFFFFFFF0u, kSpeedTesting)};
  PingReply reply;
  reply.ok = 1;
  reply.from = L"10.0.0.1";
  reply.time = 250;
  ApplyAnswer(pending, reply);
  EXPECT_EQ(pending[0].state, 150);
  EXPECT_EQ(pending[1].state, kSpeedTesting);
  EXPECT_EQ(pending[2].state, kSpeedTesting);  // sent after the answer was read
  EXPECT_EQ(pending[3].state, 7);
  reply.from = L"10.0.0.3";
  ApplyAnswer(pending, reply);
  EXPECT_EQ(pending[3].state, 7);  // already finished
  reply.from = L"10.0.0.4";
  reply.time = 20;
  ApplyAnswer(pending, reply);
  EXPECT_EQ(pending[4].state, 36);  // across the wrap
  reply.from = L"10.0.0.2";
  reply.time = 1100;  // a late answer still counts if read before the check
  ApplyAnswer(pending, reply);
  EXPECT_EQ(pending[1].state, 1000);

  // Two probes in flight to one sender: each answer finishes one of them.
  std::vector<PendingProbe> twice = {Probe(L"10.0.0.5", 100, kSpeedTesting), Probe(L"10.0.0.5", 400, kSpeedTesting)};
  reply.from = L"10.0.0.5";
  reply.time = 420;
  ApplyAnswer(twice, reply);
  EXPECT_EQ(twice[0].state, 320);
  EXPECT_EQ(twice[1].state, kSpeedTesting);
  reply.time = 700;
  ApplyAnswer(twice, reply);
  EXPECT_EQ(twice[1].state, 300);

  std::vector<PendingProbe> waiting = {Probe(L"a", 100, kSpeedTesting), Probe(L"b", 200, kSpeedTesting),
                                       Probe(L"c", 100, 999)};
  ExpireProbes(waiting, 1100);
  EXPECT_EQ(waiting[0].state, kSpeedTesting);
  ExpireProbes(waiting, 1101);
  EXPECT_EQ(waiting[0].state, kSpeedTimeout);
  EXPECT_EQ(waiting[1].state, kSpeedTesting);
  EXPECT_EQ(waiting[2].state, 999);
}

TEST(SpeedQueueing, OnlyPositiveIdsStillToBeTested) {
  VpnServerMap servers;
  for (std::int32_t id : {-5, 0, 1, 2, 3, 4}) servers[id].id = id;
  servers[2].icmpResult = 40;
  servers[3].udpResult = kSpeedTesting;
  servers[4].icmpResult = kSpeedTimeout;
  servers[4].udpResult = kSpeedTimeout;
  SpeedQueues queues;
  queues.icmp.push_back(servers[1]);
  QueueUntested(servers, queues);
  std::vector<std::int32_t> icmp, udp;
  for (const auto& s : queues.icmp) icmp.push_back(s.id);
  for (const auto& s : queues.udp) udp.push_back(s.id);
  EXPECT_EQ(icmp, (std::vector<std::int32_t>{1, 1, 3}));
  EXPECT_EQ(udp, (std::vector<std::int32_t>{1, 2}));
}

TEST(SpeedOverrides, ReadFromTheOverrideFile) {
  CTempDir dir;
  struct Case {
    std::string body;
    std::int32_t icmp, udp;
  } cases[] = {
      {"", 1, 1},
      {"[Main]\r\nAllowPingByICMP=0\r\n", 0, 1},
      {"[Main]\r\nAllowPingByICMP=0\r\nAllowPingByUDP=0\r\n", 0, 0},
      {"[Other]\r\nAllowPingByUDP=0\r\n", 1, 1},
      {"[Main]\r\nAllowPingByUDP=\r\n", 1, 1},
  };
  for (const Case& c : cases) {
    IniForgetCache();
    const SpeedTestOverrides o = ReadSpeedTestOverrides(dir.Write(L"override.ini", c.body));
    EXPECT_EQ(o.allowPingByIcmp, c.icmp) << c.body;
    EXPECT_EQ(o.allowPingByUdp, c.udp) << c.body;
  }
  const SpeedTestOverrides missing = ReadSpeedTestOverrides(dir.File(L"none.ini"));
  EXPECT_EQ(missing.allowPingByIcmp, 1);
  EXPECT_EQ(missing.allowPingByUdp, 1);
}

// A network in memory: answers per host after a delay, on a clock that the
// prober's waits move forward, so a run of many one-second probes takes
// milliseconds and results are exact. Each worker has a clock of its own.
struct FakeNet {
  std::atomic<Tick> clocks[2] = {1000, 0xFFFFFC00u};  // the UDP side runs across the wrap
  std::mutex lock;
  std::map<std::wstring, int> delayByHost;  // missing: never answers
  std::wstring answerFrom;                  // non-empty: every answer comes from here
  bool answerNotEcho = false;
  int sends = 0;
  std::atomic<int> longestWaitMs{0};
};

class CFakeProber : public CSocketPingBase {
 public:
  CFakeProber(int worker, std::shared_ptr<FakeNet> net)
      : CSocketPingBase(worker == kSpeedWorkerIcmp ? kMsgIcmpResult : kMsgUdpResult,
                        [clock = &net->clocks[worker]] { return clock->load(); }),
        net_(std::move(net)),
        time_(net_->clocks[worker]) {}
  int Open() override { return 0; }
  int SendProbe(const std::wstring& host) override {
    std::lock_guard<std::mutex> hold(net_->lock);
    ++net_->sends;
    const auto found = net_->delayByHost.find(host);
    if (found != net_->delayByHost.end())
      due_.emplace_back(time_.load() + static_cast<Tick>(found->second), host);
    return 48;
  }
  void Wait(int timeoutMs, bool& readable, bool& exceptional) override {
    exceptional = false;
    int longest = net_->longestWaitMs.load();
    while (timeoutMs > longest && !net_->longestWaitMs.compare_exchange_weak(longest, timeoutMs)) {
    }
    const Tick now = time_.load();
    const auto next = Earliest();
    if (next != due_.end() && static_cast<std::int32_t>(next->first - now) <= timeoutMs) {
      if (static_cast<std::int32_t>(next->first - now) > 0) time_.store(next->first);
      readable = true;
      return;
    }
    time_.store(now + static_cast<Tick>(timeoutMs));
    readable = false;
  }
  void Receive(PingReply& reply) override {
    if (due_.empty()) {
      reply.failed = 1;
      return;
    }
    std::lock_guard<std::mutex> hold(net_->lock);
    const auto next = Earliest();
    reply.from = net_->answerFrom.empty() ? next->second : net_->answerFrom;
    reply.ok = net_->answerNotEcho ? 0 : 1;
    reply.time = time_.load();
    due_.erase(next);
  }

 private:
  std::vector<std::pair<Tick, std::wstring>>::iterator Earliest() {
    const Tick now = time_.load();
    return std::min_element(due_.begin(), due_.end(), [now](const auto& a, const auto& b) {
      return static_cast<std::int32_t>(a.first - now) < static_cast<std::int32_t>(b.first - now);
    });
  }
  std::shared_ptr<FakeNet> net_;
  std::atomic<Tick>& time_;
  std::vector<std::pair<Tick, std::wstring>> due_;  // in order of sending
};

struct Outcome {
  std::map<std::int32_t, std::int32_t> result[2];
  int maxInFlight[2] = {0, 0};
  int posts = 0;
};

// Runs the queued servers until every one has a final result of each
// enabled kind, or until `limit` passes.
Outcome Collect(CMessageQueue& queue, std::size_t servers, bool icmp, bool udp, std::chrono::milliseconds limit) {
  Outcome out;
  int inFlight[2] = {0, 0};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto done = [&] {
    return (!icmp || out.result[0].size() == servers) && (!udp || out.result[1].size() == servers);
  };
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    const auto m = queue.Wait(50);
    if (!m) continue;
    ++out.posts;
    const int kind = m->message == kMsgIcmpResult ? 0 : 1;
    const auto id = static_cast<std::int32_t>(m->wParam);
    const auto value = static_cast<std::int32_t>(m->lParam);
    if (value == kSpeedTesting) {
      out.maxInFlight[kind] = std::max(out.maxInFlight[kind], ++inFlight[kind]);
    } else {
      --inFlight[kind];
      out.result[kind][id] = value;
    }
  }
  return out;
}

VpnServerMap Servers(int count) {
  VpnServerMap servers;
  for (int id = 1; id <= count; ++id) {
    servers[id].id = id;
    servers[id].host = L"10.9.0." + std::to_wstring(id);
  }
  return servers;
}

class SpeedWorkers : public ::testing::Test {
 protected:
  SpeedTestOptions Options() {
    SpeedTestOptions options;
    auto net = net_;
    options.makeProber = [net](int worker) -> CSocketPingBase* { return new CFakeProber(worker, net); };
    return options;
  }
  std::shared_ptr<FakeNet> net_ = std::make_shared<FakeNet>();
  CMessageQueue queue_;
};

TEST_F(SpeedWorkers, FiveInFlightExactTimesAndTimeouts) {
  for (int id = 1; id <= 12; ++id)
    if (id % 4 != 0) net_->delayByHost[L"10.9.0." + std::to_wstring(id)] = id * 37;
  CSpeedTest test(queue_, Options());
  QueueUntested(Servers(12), *test.LockQueues());
  test.Start({});
  const Outcome out = Collect(queue_, 12, true, true, 5s);
  EXPECT_TRUE(test.Stop().empty());
  for (int kind = 0; kind < 2; ++kind) {
    EXPECT_EQ(out.maxInFlight[kind], 5) << kind;
    ASSERT_EQ(out.result[kind].size(), 12u) << kind;
    for (int id = 1; id <= 12; ++id)
      EXPECT_EQ(out.result[kind].at(id), id % 4 == 0 ? kSpeedTimeout : id * 37) << kind << " id " << id;
  }
}

// Cancel waits for the workers: however long the probes in flight still
// have, a worker looks at the stop within one poll slice, and the slices
// change no result.
TEST_F(SpeedWorkers, NoWaitOutlastsThePollSlice) {
  struct Case {
    const char* name;
    int delayMs;  // every server's answer; -1 none
  };
  const Case cases[] = {{"answers", 300}, {"silence", -1}, {"just within the second", 999}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    net_ = std::make_shared<FakeNet>();
    if (c.delayMs >= 0)
      for (int id = 1; id <= 7; ++id) net_->delayByHost[L"10.9.0." + std::to_wstring(id)] = c.delayMs;
    CMessageQueue queue;
    CSpeedTest test(queue, Options());
    QueueUntested(Servers(7), *test.LockQueues());
    test.Start({});
    const Outcome out = Collect(queue, 7, true, true, 10s);
    EXPECT_TRUE(test.Stop().empty());
    for (int kind = 0; kind < 2; ++kind) {
      ASSERT_EQ(out.result[kind].size(), 7u) << kind;
      for (const auto& [id, value] : out.result[kind]) EXPECT_EQ(value, c.delayMs >= 0 ? c.delayMs : kSpeedTimeout);
    }
    EXPECT_GT(net_->longestWaitMs.load(), 0);
    EXPECT_LE(net_->longestWaitMs.load(), kWorkerPollMs);
  }
}

TEST_F(SpeedWorkers, TheSixthIsTakenOnlyWhenOneOfTheFirstFiveFinished) {
  for (int id = 1; id <= 10; ++id) net_->delayByHost[L"10.9.0." + std::to_wstring(id)] = 500;
  net_->delayByHost[L"10.9.0.3"] = 100;
  SpeedTestOptions options = Options();
  CSpeedTest test(queue_, options);
  QueueUntested(Servers(10), *test.LockQueues());
  test.Start({0, 1});
  std::vector<std::pair<std::int32_t, std::int32_t>> sequence;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (sequence.size() < 20 && std::chrono::steady_clock::now() < deadline)
    if (auto m = queue_.Wait(50)) sequence.emplace_back(static_cast<std::int32_t>(m->wParam), static_cast<std::int32_t>(m->lParam));
  test.Stop();
  ASSERT_EQ(sequence.size(), 20u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sequence[i], std::make_pair(i + 1, kSpeedTesting));
  EXPECT_EQ(sequence[5], std::make_pair(3, 100));
  EXPECT_EQ(sequence[6], std::make_pair(6, kSpeedTesting));
  EXPECT_FALSE(test.HasWorker(kSpeedWorkerIcmp));
}

TEST_F(SpeedWorkers, OtherSendersAndOtherIcmpMessagesAreIgnored) {
  net_->delayByHost[L"10.9.0.1"] = 20;
  net_->answerFrom = L"10.9.0.99";
  CSpeedTest test(queue_, Options());
  QueueUntested(Servers(1), *test.LockQueues());
  test.Start({});
  Outcome out = Collect(queue_, 1, true, true, 5s);
  test.Stop();
  EXPECT_EQ(out.result[0].at(1), kSpeedTimeout);
  EXPECT_EQ(out.result[1].at(1), kSpeedTimeout);

  CMessageQueue second;
  net_->answerFrom.clear();
  net_->answerNotEcho = true;
  CSpeedTest test2(second, Options());
  QueueUntested(Servers(1), *test2.LockQueues());
  test2.Start({1, 0});
  out = Collect(second, 1, true, false, 5s);
  test2.Stop();
  EXPECT_EQ(out.result[0].at(1), kSpeedTimeout);
}

TEST_F(SpeedWorkers, NoWorkerWhenBothAreSwitchedOff) {
  CSpeedTest test(queue_, Options());
  QueueUntested(Servers(3), *test.LockQueues());
  test.Start({0, 0});
  EXPECT_TRUE(test.Running());
  EXPECT_FALSE(test.HasWorker(kSpeedWorkerIcmp));
  EXPECT_FALSE(test.HasWorker(kSpeedWorkerUdp));
  EXPECT_FALSE(queue_.Wait(200).has_value());
  EXPECT_TRUE(test.Stop().empty());
  EXPECT_FALSE(test.Running());
  EXPECT_EQ(test.LockQueues()->icmp.size(), 3u);
}

TEST_F(SpeedWorkers, StopEndsWorkersAndNothingIsPostedAfterwards) {
  CSpeedTest test(queue_, Options());
  QueueUntested(Servers(40), *test.LockQueues());
  test.Start({});
  ASSERT_TRUE(queue_.Wait(2000).has_value());
  // Workers that end within the stop wait leave no blocked worker behind.
  EXPECT_TRUE(test.Stop().empty());
  EXPECT_FALSE(test.HasWorker(kSpeedWorkerIcmp));
  while (queue_.TryTake()) {
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(queue_.Pending(), 0u);
  EXPECT_TRUE(test.Stop().empty());  // a second stop does nothing
}

// Counts what reaches the "dialog" and fails the test if anything arrives
// after the dialog has gone.
class CGuardedTarget : public IMessageTarget {
 public:
  bool Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {
    if (closed.load()) lateposts.fetch_add(1);
    posts.fetch_add(1);
    return true;
  }
  std::atomic<bool> closed{false};
  std::atomic<int> posts{0};
  std::atomic<int> lateposts{0};
};

struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
  std::atomic<bool> proberGone{false};
};

class CStuckProber : public CSocketPingBase {
 public:
  explicit CStuckProber(std::shared_ptr<Gate> gate) : CSocketPingBase(kMsgIcmpResult, ProbeClockMs), gate_(gate) {}
  ~CStuckProber() override { gate_->proberGone.store(true); }
  int Open() override { return 0; }
  int SendProbe(const std::wstring&) override {
    std::unique_lock<std::mutex> hold(gate_->lock);
    gate_->entered = true;
    gate_->changed.notify_all();
    gate_->changed.wait_for(hold, 10s, [&] { return gate_->open; });
    return 0;
  }
  void Wait(int, bool& readable, bool& exceptional) override { readable = exceptional = false; }
  void Receive(PingReply& reply) override { reply.failed = 1; }

 private:
  std::shared_ptr<Gate> gate_;
};

TEST(SpeedWorkerHeldUp, OutlivesTheDialogWithoutTouchingIt) {
  auto gate = std::make_shared<Gate>();
  auto target = std::make_unique<CGuardedTarget>();
  auto test = std::make_unique<CSpeedTest>(*target, [&] {
    SpeedTestOptions options;
    options.makeProber = [gate](int) -> CSocketPingBase* { return new CStuckProber(gate); };
    return options;
  }());
  QueueUntested(Servers(8), *test->LockQueues());
  test->Start({1, 0});
  {
    std::unique_lock<std::mutex> hold(gate->lock);
    ASSERT_TRUE(gate->changed.wait_for(hold, 5s, [&] { return gate->entered; }));
  }
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(test->Stop(), std::vector<int>{0});
  EXPECT_EQ(BlockedWorkerText(0), L"0 thread blocked");
  const auto waited = std::chrono::steady_clock::now() - stopping;
  EXPECT_GE(waited, 1400ms);
  EXPECT_LT(waited, 10s);  // bounded: a stuck worker is never joined without limit
  EXPECT_EQ(target->posts.load(), 5);  // the five "testing" notices, nothing more
  // The dialog goes away while the worker is still stuck in its send.
  test.reset();
  target->closed.store(true);
  CGuardedTarget* const stale = target.release();
  {
    std::lock_guard<std::mutex> hold(gate->lock);
    gate->open = true;
    gate->changed.notify_all();
  }
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!gate->proberGone.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(gate->proberGone.load());
  EXPECT_EQ(stale->lateposts.load(), 0);
  delete stale;
}

// A prober whose socket could not be made: probes must end as timeouts one
// second after they were taken, with the worker asleep in between.
class CNoSocketProber : public CSocketPingBase {
 public:
  explicit CNoSocketProber(std::shared_ptr<std::atomic<int>> waits)
      : CSocketPingBase(kMsgUdpResult, ProbeClockMs), waits_(std::move(waits)) {}
  int Open() override { return -1; }
  int SendProbe(const std::wstring&) override { return -1; }
  void Receive(PingReply& reply) override { reply.failed = 1; }
  void Wait(int timeoutMs, bool& readable, bool& exceptional) override {
    waits_->fetch_add(1);
    CSocketPingBase::Wait(timeoutMs, readable, exceptional);
  }

 private:
  std::shared_ptr<std::atomic<int>> waits_;
};

TEST(SpeedWorkerNoSocket, ProbesTimeOutWithoutSpinning) {
  CMessageQueue queue;
  auto waits = std::make_shared<std::atomic<int>>(0);
  SpeedTestOptions options;
  options.makeProber = [waits](int) -> CSocketPingBase* { return new CNoSocketProber(waits); };
  CSpeedTest test(queue, options);
  QueueUntested(Servers(3), *test.LockQueues());
  const auto started = std::chrono::steady_clock::now();
  test.Start({0, 1});
  const Outcome out = Collect(queue, 3, false, true, 4s);
  const auto took = std::chrono::steady_clock::now() - started;
  test.Stop();
  ASSERT_EQ(out.result[1].size(), 3u);
  for (const auto& [id, value] : out.result[1]) EXPECT_EQ(value, kSpeedTimeout) << id;
  EXPECT_GE(took, 990ms);
  // Asleep between probes in poll slices, not spinning.
  EXPECT_LT(waits->load(), 2 * 1000 / kWorkerPollMs);
}

// Start after a Stop that gave up on a stuck worker: when the old worker
// wakes it must leave, not serve the queues beside the new one, and the
// next Stop must not take its end for the new worker's.
TEST(SpeedWorkerHeldUp, RestartWhileTheOldWorkerIsStillAlive) {
  auto gate = std::make_shared<Gate>();
  auto net = std::make_shared<FakeNet>();
  for (int id = 1; id <= 8; ++id) net->delayByHost[L"10.9.0." + std::to_wstring(id)] = 20;
  auto made = std::make_shared<std::atomic<int>>(0);
  CMessageQueue queue;
  SpeedTestOptions options;
  options.stopWaitMs = 300;
  options.makeProber = [gate, net, made](int worker) -> CSocketPingBase* {
    if (made->fetch_add(1) == 0) return new CStuckProber(gate);
    return new CFakeProber(worker, net);
  };
  CSpeedTest test(queue, options);
  QueueUntested(Servers(8), *test.LockQueues());
  test.Start({1, 0});
  {
    std::unique_lock<std::mutex> hold(gate->lock);
    ASSERT_TRUE(gate->changed.wait_for(hold, 5s, [&] { return gate->entered; }));
  }
  ASSERT_EQ(test.Stop(), std::vector<int>{0});
  while (queue.Wait(0)) {
  }
  // Remeasure everything with a fresh worker while the old one is stuck.
  {
    auto queues = test.LockQueues();
    queues->icmp.clear();
    QueueUntested(Servers(8), *queues);
  }
  test.Start({1, 0});
  {
    std::lock_guard<std::mutex> hold(gate->lock);
    gate->open = true;
    gate->changed.notify_all();
  }
  const Outcome out = Collect(queue, 8, true, false, 10s);
  ASSERT_EQ(out.result[0].size(), 8u);
  for (const auto& [id, value] : out.result[0]) EXPECT_EQ(value, 20) << id;
  EXPECT_EQ(out.posts, 16);  // one "testing" and one result per server, from the new worker alone
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!gate->proberGone.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(gate->proberGone.load()) << "the old worker went on running";
  EXPECT_TRUE(test.Stop().empty());
  EXPECT_EQ(made->load(), 2);
}

}  // namespace
