// The speed test behind the server chooser: one worker per protocol, each
// with at most five probes in flight and one second per probe, fed from two
// queues under one lock, reporting by posted messages (kMsgIcmpResult,
// kMsgUdpResult; wParam the server id, lParam the result).
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_target.h"
#include "platform/tick.h"
#include "servers/server_list.h"
#include "servers/speed_probe.h"

constexpr int kSpeedWorkerIcmp = 0;
constexpr int kSpeedWorkerUdp = 1;
constexpr std::size_t kMaxProbesInFlight = 5;
constexpr std::uint32_t kProbeTimeoutMs = 1000;
// The longest a worker waits for answers before it looks whether the test
// was stopped: the dialog's Cancel waits for the workers to end.
constexpr int kWorkerPollMs = 25;

// AllowPingByICMP and AllowPingByUDP from the local override file.
struct SpeedTestOverrides {
  std::int32_t allowPingByIcmp = 1;
  std::int32_t allowPingByUdp = 1;
};
// Section Main of the override file; both default to 1, also when the file
// is missing.
SpeedTestOverrides ReadSpeedTestOverrides(const std::wstring& overrideFilePath);

struct SpeedQueues {
  std::deque<VpnServerInfo> icmp;
  std::deque<VpnServerInfo> udp;
};

// Appends, in ascending id order, every server with a positive id whose
// result of that kind is still to be tested. The caller holds the lock.
void QueueUntested(const VpnServerMap& servers, SpeedQueues& queues);

// One worker pass, as pure steps over its pending probes.
// How long to wait for answers: the least time left of any probe, at most
// one second.
int ProbeWaitMs(const std::vector<PendingProbe>& pending, Tick now);
// Gives the answer's time to the oldest waiting probe sent to its sender.
void ApplyAnswer(std::vector<PendingProbe>& pending, const PingReply& reply);
// Probes still without an answer more than a second after sending time out.
void ExpireProbes(std::vector<PendingProbe>& pending, Tick now);

// Makes the prober for a worker (kSpeedWorkerIcmp or kSpeedWorkerUdp); the
// worker opens it and ends it with Close().
using ProberFactory = std::function<CSocketPingBase*(int worker)>;

struct SpeedTestOptions {
  SpeedClock clock = ProbeClockMs;
  std::uint16_t udpPort = kTimeServicePort;
  ProberFactory makeProber;  // empty: the real ICMP and UDP probers
  int stopWaitMs = 1500;
};

// What the dialog tells the user about a worker Stop() gave up on.
std::wstring BlockedWorkerText(int worker);

struct SpeedTestShared;

class CSpeedTest {
 public:
  explicit CSpeedTest(IMessageTarget& target, SpeedTestOptions options = {});
  // Stops the test; a worker that has not ended is left to end on its own.
  ~CSpeedTest();
  CSpeedTest(const CSpeedTest&) = delete;
  CSpeedTest& operator=(const CSpeedTest&) = delete;

  // Starts the worker of each protocol that the overrides allow. A worker
  // that cannot be started is simply absent: its queue is never served.
  void Start(const SpeedTestOverrides& overrides);
  // Ends the test, waiting for each worker up to stopWaitMs. Returns the
  // numbers of the workers that did not end in time (0 ICMP, 1 UDP). Once
  // this returns, no message is posted to the target any more and a late
  // worker touches only state it shares ownership of.
  std::vector<int> Stop();
  bool Running() const;
  bool HasWorker(int worker) const { return workers_[worker].joinable(); }

  // The two queues under the one lock, for as long as this object lives.
  class CLockedQueues {
   public:
    CLockedQueues(std::mutex& lock, SpeedQueues& queues) : hold_(lock), queues_(queues) {}
    SpeedQueues& operator*() { return queues_; }
    SpeedQueues* operator->() { return &queues_; }

   private:
    std::unique_lock<std::mutex> hold_;
    SpeedQueues& queues_;
  };
  CLockedQueues LockQueues();

 private:
  IMessageTarget& target_;
  std::shared_ptr<SpeedTestShared> shared_;
  std::thread workers_[2];
};
