// How long the speed test takes to give every server a first result of each
// kind, and how much CPU its workers use while they wait. Needs root (a
// network namespace with a TUN device whose responder plays the servers).
//
// Baseline, same run: the same 100 servers all answering. Each run is also
// set against the schedule the probes allow: five slots per worker, taken in
// queue order, each held for its server's answer time or for the second a
// silent server costs. (Silent servers x 1 s / 5 alone leaves out the time
// the answering servers hold their slots.)
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <queue>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "servers/speed_test.h"
#include "tools/netns_linux.h"
#include "tools/tun_responder_linux.h"

namespace {

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The earliest the last of `durations` (milliseconds, in queue order) can end
// when `slots` probes run at once and a free slot takes the next at once.
double ScheduleSeconds(const std::vector<int>& durations, int slots) {
  std::priority_queue<long, std::vector<long>, std::greater<long>> freeAt;
  for (int i = 0; i < slots; ++i) freeAt.push(0);
  long end = 0;
  for (int d : durations) {
    const long done = freeAt.top() + d;
    freeAt.pop();
    freeAt.push(done);
    end = std::max(end, done);
  }
  return end / 1000.0;
}

void FirstResults(benchmark::State& state) {
  const int servers = 100;
  const int silent = static_cast<int>(state.range(0));
  std::string whyNot;
  if (!CanUseTestNetns(whyNot)) {
    state.SkipWithError(whyNot.c_str());
    return;
  }
  for (auto _ : state) {
    CTestNetns ns("bn");
    double seconds = 0, workerCpu = 0;
    std::vector<int> durations;
    bool complete = false;
    const std::string device = "qvtbn" + std::to_string(getpid() % 100000);
    ns.RunInside([&] {
      CTunResponder responder(device, 60000);
      if (!responder.Ok() || !ns.Ip("addr add 10.78.0.1/16 dev " + device) || !ns.Ip("link set " + device + " up"))
        return;
      VpnServerMap map;
      durations.clear();
      for (int i = 1; i <= servers; ++i) {
        const std::string host = "10.78." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 10);
        // Silent servers spread through the list, answers between 20 and 200 ms.
        const bool quiet = (i * silent) % servers < silent;
        const int delay = 20 + (i * 37) % 181;
        responder.SetPeer(host, quiet ? PeerBehaviour{} : PeerBehaviour{PeerMode::Answer, delay, PeerMode::Answer, delay});
        // A silent probe ends once the clock has passed its second.
        durations.push_back(quiet ? 1001 : delay);
        map[i].id = i;
        map[i].host = std::wstring(host.begin(), host.end());
      }
      responder.Start();
      CMessageQueue queue;
      CSpeedTest test(queue);
      QueueUntested(map, *test.LockQueues());
      std::map<std::int32_t, bool> done[2];
      const double cpuBefore = ProcessCpuSeconds();
      const auto started = std::chrono::steady_clock::now();
      test.Start({});
      const auto deadline = started + std::chrono::seconds(40);
      while ((done[0].size() < static_cast<std::size_t>(servers) || done[1].size() < static_cast<std::size_t>(servers)) &&
             std::chrono::steady_clock::now() < deadline) {
        const auto m = queue.Wait(50);
        if (m && static_cast<std::int32_t>(m->lParam) != kSpeedTesting)
          done[m->message == kMsgIcmpResult ? 0 : 1][static_cast<std::int32_t>(m->wParam)] = true;
      }
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const double cpu = ProcessCpuSeconds() - cpuBefore;
      complete = done[0].size() == static_cast<std::size_t>(servers) && done[1].size() == static_cast<std::size_t>(servers);
      test.Stop();
      responder.Stop();
      // The responder's thread ran the whole time; what is left is the two
      // workers and the message loop of this thread.
      workerCpu = cpu - responder.CpuSeconds();
    });
    if (!complete) {
      state.SkipWithError("not every server got a first result");
      return;
    }
    state.SetIterationTime(seconds);
    state.counters["seconds"] = seconds;
    state.counters["design_bound_s"] = silent * 1.0 / 5;
    state.counters["schedule_bound_s"] = ScheduleSeconds(durations, static_cast<int>(kMaxProbesInFlight));
    state.counters["worker_cpu_s"] = workerCpu;
    state.counters["cpu_pct_of_core"] = 100.0 * workerCpu / seconds;
  }
}

BENCHMARK(FirstResults)->Name("BM_FirstResults_AllAnswering")->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(FirstResults)->Name("BM_FirstResults_40Silent")->Arg(40)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
