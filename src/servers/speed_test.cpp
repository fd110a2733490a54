#include "servers/speed_test.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <system_error>

#include "account/reply_document.h"

// Everything a worker touches lives here, owned jointly by the test and its
// workers, so a worker that outlives the test (and the dialog) never reaches
// freed memory. The target is cleared when the test stops; posting checks it
// under postLock, so nothing is posted to a dialog that has gone.
struct SpeedTestShared {
  explicit SpeedTestShared(SpeedTestOptions o) : options(std::move(o)) {}

  SpeedTestOptions options;
  std::atomic<int> speedTestRunning{0};
  std::mutex lock;  // the queues
  SpeedQueues queues;
  std::condition_variable wake;  // with `lock`: an idle worker's sleep

  std::mutex postLock;
  IMessageTarget* target = nullptr;

  // Each Start is a generation. A worker serves only its own: one that a
  // Stop gave up on and that wakes after the next Start leaves at once
  // instead of running beside the new worker, and its end is not taken for
  // the new worker's.
  std::atomic<unsigned> generation{0};
  std::mutex doneLock;
  std::condition_variable doneChanged;
  unsigned started[2] = {0, 0};  // generation of the worker last started per slot
  unsigned ended[2] = {0, 0};    // generation of the worker last ended per slot

  bool Current(unsigned workerGeneration) const {
    return speedTestRunning.load() != 0 && generation.load() == workerGeneration;
  }
  void Post(unsigned workerGeneration, std::uint32_t message, std::int32_t id, std::int32_t result) {
    std::lock_guard<std::mutex> hold(postLock);
    if (target != nullptr && Current(workerGeneration))
      target->Post(message, static_cast<std::uintptr_t>(static_cast<std::uint32_t>(id)),
                   static_cast<std::intptr_t>(result));
  }
};

namespace {

struct ProberCloser {
  void operator()(CSocketPingBase* prober) const {
    if (prober != nullptr) prober->Close();
  }
};

CSocketPingBase* MakeRealProber(const SpeedTestOptions& options, int worker) {
  if (worker == kSpeedWorkerIcmp) return new CSocketPing_ICMP(options.clock);
  return new CSocketPing_UDP(options.clock, options.udpPort);
}

void RunWorker(std::shared_ptr<SpeedTestShared> shared, int worker, unsigned generation) {
  const SpeedTestOptions& options = shared->options;
  std::unique_ptr<CSocketPingBase, ProberCloser> prober(
      options.makeProber ? options.makeProber(worker) : MakeRealProber(options, worker));
  std::deque<VpnServerInfo>& queue = worker == kSpeedWorkerIcmp ? shared->queues.icmp : shared->queues.udp;
  std::vector<PendingProbe> pending;
  if (prober) {
    // A prober without a socket still runs: its probes time out one by one.
    prober->Open();
    const std::uint32_t message = prober->Message();
    while (shared->Current(generation)) {
      {
        std::lock_guard<std::mutex> hold(shared->lock);
        while (pending.size() < kMaxProbesInFlight && !queue.empty() && shared->Current(generation)) {
          PendingProbe probe;
          probe.server = std::move(queue.front());
          queue.pop_front();
          shared->Post(generation, message, probe.server.id, kSpeedTesting);
          pending.push_back(std::move(probe));
        }
      }
      bool readable = false;
      bool exceptional = false;
      if (pending.empty()) {
        {
          // Stop wakes this at once; a server queued meanwhile waits at
          // most the tenth of a second.
          std::unique_lock<std::mutex> hold(shared->lock);
          shared->wake.wait_for(hold, std::chrono::milliseconds(100),
                                [&] { return !shared->Current(generation); });
        }
        // Late answers to finished probes are read and dropped here.
        prober->Wait(0, readable, exceptional);
        if (readable && !exceptional) {
          PingReply ignored;
          prober->Receive(ignored);
        }
        continue;
      }
      for (PendingProbe& probe : pending) {
        if (probe.state != kSpeedToBeTested) continue;
        probe.sendTime = prober->Now();
        probe.state = kSpeedTesting;
        prober->SendProbe(probe.server.host);
      }
      // Sliced so that a stop is seen soon, but servers queued meanwhile
      // wait for an answer or a timeout as before: a remeasured server's
      // in-flight result is shown before it is probed again.
      const Tick waitStart = prober->Now();
      const int waitMs = ProbeWaitMs(pending, waitStart);
      for (int left = waitMs;;) {
        prober->Wait(std::min(left, kWorkerPollMs), readable, exceptional);
        if (readable || exceptional || !shared->Current(generation)) break;
        left = waitMs - static_cast<int>(TickElapsed(prober->Now(), waitStart));
        if (left <= 0) break;
      }
      while (readable && !exceptional) {
        PingReply reply;
        prober->Receive(reply);
        if (reply.failed) break;
        if (reply.ok) ApplyAnswer(pending, reply);
        prober->Wait(0, readable, exceptional);
      }
      ExpireProbes(pending, prober->Now());
      for (auto it = pending.begin(); it != pending.end();) {
        if (it->state == kSpeedTesting || it->state == kSpeedToBeTested) {
          ++it;
          continue;
        }
        shared->Post(generation, message, it->server.id, it->state);
        it = pending.erase(it);
      }
    }
  }
  prober.reset();
  std::lock_guard<std::mutex> hold(shared->doneLock);
  shared->ended[worker] = generation;
  shared->doneChanged.notify_all();
}

}  // namespace

SpeedTestOverrides ReadSpeedTestOverrides(const std::wstring& overrideFilePath) {
  SpeedTestOverrides overrides;
  overrides.allowPingByIcmp = IniReadInt(overrideFilePath, L"Main", L"AllowPingByICMP", 1);
  overrides.allowPingByUdp = IniReadInt(overrideFilePath, L"Main", L"AllowPingByUDP", 1);
  return overrides;
}

void QueueUntested(const VpnServerMap& servers, SpeedQueues& queues) {
  for (const auto& [id, server] : servers) {
    if (id <= 0) continue;
    if (server.icmpResult == kSpeedToBeTested) queues.icmp.push_back(server);
    if (server.udpResult == kSpeedToBeTested) queues.udp.push_back(server);
  }
}

int ProbeWaitMs(const std::vector<PendingProbe>& pending, Tick now) {
  std::int64_t wait = kProbeTimeoutMs;
  bool expiring = false;
  for (const PendingProbe& probe : pending) {
    const std::int32_t left = static_cast<std::int32_t>(probe.sendTime + kProbeTimeoutMs - now);
    wait = std::min<std::int64_t>(wait, std::max<std::int32_t>(left, 0));
    if (TickElapsed(now, probe.sendTime) > kProbeTimeoutMs) expiring = true;
  }
  // A probe whose second is up to the millisecond times out only once the
  // clock moves on; waiting that millisecond instead of polling keeps a
  // coarse clock from turning the loop into a spin.
  if (wait == 0 && !expiring) wait = 1;
  return static_cast<int>(wait);
}

void ApplyAnswer(std::vector<PendingProbe>& pending, const PingReply& reply) {
  // One answer finishes one probe, the oldest one waiting on that sender.
  // After Remeasure the same server can be in flight twice; handing the
  // first answer to both would give the newer probe a time it never took.
  for (PendingProbe& probe : pending) {
    if (probe.state != kSpeedTesting || probe.server.host != reply.from) continue;
    const std::int32_t elapsed = static_cast<std::int32_t>(reply.time - probe.sendTime);
    if (elapsed < 0) continue;
    probe.state = elapsed;
    return;
  }
}

void ExpireProbes(std::vector<PendingProbe>& pending, Tick now) {
  for (PendingProbe& probe : pending) {
    if (probe.state != kSpeedTesting && probe.state != kSpeedToBeTested) continue;
    if (TickElapsed(now, probe.sendTime) > kProbeTimeoutMs) probe.state = kSpeedTimeout;
  }
}

std::wstring BlockedWorkerText(int worker) { return std::to_wstring(worker) + L" thread blocked"; }

CSpeedTest::CSpeedTest(IMessageTarget& target, SpeedTestOptions options)
    : target_(target), shared_(std::make_shared<SpeedTestShared>(std::move(options))) {}

CSpeedTest::~CSpeedTest() {
  Stop();
  for (std::thread& worker : workers_)
    if (worker.joinable()) worker.detach();
}

void CSpeedTest::Start(const SpeedTestOverrides& overrides) {
  {
    std::lock_guard<std::mutex> hold(shared_->postLock);
    shared_->target = &target_;
  }
  const unsigned generation = shared_->generation.fetch_add(1) + 1;
  shared_->speedTestRunning.store(1);
  const bool allowed[2] = {overrides.allowPingByIcmp != 0, overrides.allowPingByUdp != 0};
  for (int worker = 0; worker < 2; ++worker) {
    if (!allowed[worker] || workers_[worker].joinable()) continue;
    {
      std::lock_guard<std::mutex> hold(shared_->doneLock);
      shared_->started[worker] = generation;
    }
    try {
      workers_[worker] = std::thread(RunWorker, shared_, worker, generation);
    } catch (const std::system_error&) {
      // No thread for this protocol: its queue is never served and its
      // results stay "to be tested".
    }
  }
}

std::vector<int> CSpeedTest::Stop() {
  std::vector<int> blocked;
  if (shared_->speedTestRunning.exchange(0) == 0) return blocked;
  {
    // Under the lock: an idle worker is either before its check or inside
    // its wait, never in between missing the notification.
    std::lock_guard<std::mutex> hold(shared_->lock);
  }
  shared_->wake.notify_all();
  for (int worker = 0; worker < 2; ++worker) {
    if (!workers_[worker].joinable()) continue;
    bool ended;
    {
      std::unique_lock<std::mutex> hold(shared_->doneLock);
      ended = shared_->doneChanged.wait_for(hold, std::chrono::milliseconds(shared_->options.stopWaitMs),
                                            [&] { return shared_->ended[worker] == shared_->started[worker]; });
    }
    if (ended) {
      workers_[worker].join();
    } else {
      workers_[worker].detach();
      blocked.push_back(worker);
    }
  }
  std::lock_guard<std::mutex> hold(shared_->postLock);
  shared_->target = nullptr;
  return blocked;
}

bool CSpeedTest::Running() const { return shared_->speedTestRunning.load() != 0; }

CSpeedTest::CLockedQueues CSpeedTest::LockQueues() { return CLockedQueues(shared_->lock, shared_->queues); }
