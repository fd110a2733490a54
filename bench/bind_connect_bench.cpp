// What the Linux bind module costs an activated program's connects. Needs
// root: a client namespace with a default path and a "tunnel" path (veth
// pairs, so the kernel's forwarding is what is timed) to a namespace that
// accepts TCP connections on a whole /16.
//
// Each case runs this program again as a child in the client namespace,
// which makes 1,000 connects and reports their median. Baseline, same run:
// the same child without the module, to a target whose route already exists.
//   BM_Connect/0  without the module, route exists (baseline)
//   BM_Connect/1  activated, route exists (the server says yes, once)
//   BM_Connect/2  activated, every connect to a new address: a first request
//                 that adds the route
//   BM_ConnectPair  0 and 1 back to back per round, the ratio per round
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accel/route_request_socket_server.h"
#include "routing/route_table_linux.h"
#include "tools/netns_linux.h"

namespace {

constexpr int kConnects = 1000;
constexpr int kPort = 7100;

std::string SelfPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Child: `count` connects to consecutive addresses from `first` (or all to
// `first`), each timed from socket to an established connection.
int RunChild(const char* first, bool spread, int count) {
  in_addr base{};
  inet_pton(AF_INET, first, &base);
  std::vector<double> micros;
  for (int i = 0; i < count; ++i) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kPort);
    a.sin_addr.s_addr = spread ? htonl(ntohl(base.s_addr) + static_cast<std::uint32_t>(i)) : base.s_addr;
    const auto start = std::chrono::steady_clock::now();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int rc = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const auto end = std::chrono::steady_clock::now();
    close(fd);
    if (rc != 0) return 3;
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::nth_element(micros.begin(), micros.begin() + count / 2, micros.end());
  std::printf("%.3f\n", micros[count / 2]);
  return 0;
}

struct Bed {
  std::unique_ptr<CTestNetns> client, far;
  int listener = -1;
  std::atomic<bool> stop{false};
  std::thread acceptor;
  std::unique_ptr<IForwardTable> table;
  std::unique_ptr<CVpnRouteRequestSocketServer> server;
  std::string dir, socketPath, listPath, statePath;
  bool ok = false;

  Bed() {
    const std::string tag = std::to_string(getpid());
    client = std::make_unique<CTestNetns>("kc");
    far = std::make_unique<CTestNetns>("kf");
    dir = "/tmp/qb-bench-" + tag;
    std::filesystem::create_directories(dir);
    socketPath = dir + "/route.sock";
    listPath = dir + "/applist.ini";
    statePath = dir + "/tunnel";
    const std::string c = client->Name(), f = far->Name();
    ok = client->Ok() && far->Ok() && client->Ip("link add qklan0 type veth peer name qklan0p netns " + f) &&
         client->Ip("link add qkvpn0 type veth peer name qkvpn0p netns " + f) &&
         client->Ip("addr add 192.168.78.2/24 dev qklan0") && client->Ip("link set qklan0 up") &&
         client->Ip("addr add 10.9.0.2/24 dev qkvpn0") && client->Ip("link set qkvpn0 up") &&
         client->Ip("route add default via 192.168.78.1 dev qklan0") &&
         far->Ip("addr add 192.168.78.1/24 dev qklan0p") && far->Ip("link set qklan0p up") &&
         far->Ip("addr add 10.9.0.1/24 dev qkvpn0p") && far->Ip("link set qkvpn0p up") &&
         far->Ip("route add local 198.18.0.0/16 dev lo");
    if (!ok) return;
    far->RunInside([&] {
      listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(kPort);
      const int one = 1;
      setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      // Non-local binding so that every address of the /16 is ours.
      setsockopt(listener, SOL_IP, IP_FREEBIND, &one, sizeof one);
      if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1024) != 0) {
        close(listener);
        listener = -1;
      }
    });
    if (listener < 0) {
      ok = false;
      return;
    }
    acceptor = std::thread([this] {
      while (!stop) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
          const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
          if (fd >= 0) close(fd);
        }
      }
    });
    ForwardRow templ;
    templ.nextHop = inet_addr("10.9.0.1");
    templ.type = kRouteTypeIndirect;
    templ.protocol = kRouteProtocolNetMgmt;
    templ.metric1 = 1;
    templ.metric2 = templ.metric3 = templ.metric4 = templ.metric5 = kMetricUnused;
    client->RunInside([&] {
      templ.ifIndex = if_nametoindex("qkvpn0");
      table = CreateLinuxForwardTable(dir);
      server = std::make_unique<CVpnRouteRequestSocketServer>(*table, socketPath);
      ok = templ.ifIndex != 0 && server->Start(templ);
    });
    std::ofstream(listPath) << "[bench]\nAppFullname=" << SelfPath() << "\nActive=1\n";
    // The client's VpnBindStart, through the module in this process.
    setenv("QUILLNET_BIND_STATE", statePath.c_str(), 1);
    void* module = dlopen(QUILLNET_BIND_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto start = module ? reinterpret_cast<int (*)(int, std::uint32_t)>(dlsym(module, "VpnBindStart")) : nullptr;
    ok = ok && start && start(8, inet_addr("10.9.0.2")) == 0;
  }
  ~Bed() {
    if (server) server->Stop();
    stop = true;
    if (acceptor.joinable()) acceptor.join();
    if (listener >= 0) close(listener);
    server.reset();
    table.reset();
    far.reset();
    client.reset();
    std::filesystem::remove_all(dir);
  }

  // The child's median in microseconds, or a negative number.
  double Run(bool preload, const std::string& first, bool spread) {
    std::string command = "ip netns exec " + client->Name() + " env QUILLNET_BIND_LIST=" + listPath +
                          " QUILLNET_BIND_SOCKET=" + socketPath + " QUILLNET_BIND_STATE=" + statePath;
    if (preload) command += std::string(" LD_PRELOAD=") + QUILLNET_BIND_LIBRARY;
    command += " " + SelfPath() + " --child " + first + (spread ? " spread " : " same ") + std::to_string(kConnects);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    double median = -1;
    if (std::fscanf(p, "%lf", &median) != 1) median = -1;
    return pclose(p) == 0 ? median : -1;
  }
};

Bed* gBed = nullptr;
std::map<int, std::vector<double>> gMedians;

void BM_Connect(benchmark::State& state) {
  if (!gBed || !gBed->ok) {
    state.SkipWithError("needs root for network namespaces");
    return;
  }
  const int mode = static_cast<int>(state.range(0));
  // The route for the "exists" target is in place before timing starts.
  static bool primed = gBed->Run(true, "198.18.0.1", false) > 0;
  if (!primed) {
    state.SkipWithError("the activated child could not connect");
    return;
  }
  int round = 0;
  for (auto _ : state) {
    // New addresses for every round of the first-request case.
    const std::string spreadBase = "198.18." + std::to_string(4 + 4 * (round++ % 50)) + ".1";
    const double median = mode == 2 ? gBed->Run(true, spreadBase, true) : gBed->Run(mode == 1, "198.18.0.1", false);
    if (median <= 0) {
      state.SkipWithError("child failed");
      return;
    }
    state.SetIterationTime(median / 1e6);
    gMedians[mode].push_back(median);
  }
  std::vector<double>& m = gMedians[mode];
  std::sort(m.begin(), m.end());
  state.counters["median_connect_us"] = m[m.size() / 2];
}
BENCHMARK(BM_Connect)->Arg(0)->Arg(1)->Arg(2)->Iterations(5)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The two children back to back in each round, so that a busy moment of the
// machine falls on both: the ratio is taken per round.
std::vector<double> gPairRatios;
void BM_ConnectPair(benchmark::State& state) {
  if (!gBed || !gBed->ok) {
    state.SkipWithError("needs root for network namespaces");
    return;
  }
  for (auto _ : state) {
    const double without = gBed->Run(false, "198.18.0.1", false);
    const double with = gBed->Run(true, "198.18.0.1", false);
    if (without <= 0 || with <= 0) {
      state.SkipWithError("child failed");
      return;
    }
    state.SetIterationTime(with / 1e6);
    gPairRatios.push_back(with / without);
  }
  std::vector<double> r = gPairRatios;
  std::sort(r.begin(), r.end());
  state.counters["median_ratio"] = r[r.size() / 2];
}
BENCHMARK(BM_ConnectPair)->Iterations(11)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
    return RunChild(argv[2], std::strcmp(argv[3], "spread") == 0, std::atoi(argv[4]));
  benchmark::Initialize(&argc, argv);
  std::string why;
  std::unique_ptr<Bed> bed;
  if (CanUseTestNetns(why)) {
    bed = std::make_unique<Bed>();
    gBed = bed.get();
  }
  benchmark::RunSpecifiedBenchmarks();
  auto median = [](int mode) {
    std::vector<double>& m = gMedians[mode];
    return m.empty() ? 0.0 : m[m.size() / 2];
  };
  if (median(0) > 0) {
    std::printf("activated, route exists vs without the module: %.2fx (goal: at most 1.2x)\n", median(1) / median(0));
    std::printf("activated, first request adding the route vs without the module: %.2fx\n", median(2) / median(0));
  }
  if (!gPairRatios.empty()) {
    std::sort(gPairRatios.begin(), gPairRatios.end());
    std::printf("activated vs without, paired rounds: median %.2fx, range %.2fx to %.2fx (goal: at most 1.2x)\n",
                gPairRatios[gPairRatios.size() / 2], gPairRatios.front(), gPairRatios.back());
  }
  bed.reset();
  benchmark::Shutdown();
  return 0;
}
