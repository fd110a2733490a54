// Route plan and route request server against the real kernel table, in a
// network namespace of the benchmark's own (needs root). Baselines in the
// same run: the same 10,000 rows added and deleted straight through the
// forwarding-table port, and the same 50 clients against a server that only
// echoes a byte.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "accel/route_request_socket_server.h"
#include "routing/route_journal.h"
#include "routing/route_table_linux.h"
#include "text/text_table.h"
#include "vpn/general_vpn.h"

namespace {

constexpr int kRoutes = 10000;
constexpr int kClients = 50;
constexpr int kRequestsPerClient = 200;
// Hosts each client asks for in turn; all clients' hosts together stay
// within what the server keeps at once.
constexpr int kHostsPerClient = 80;
static_assert(kClients * kHostsPerClient <= static_cast<int>(kMaxRequestedRoutes));

std::string gNamespace;
std::string gJournalFolder;

int Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

class CBenchVpn : public CGeneralVpn {
 public:
  using CGeneralVpn::CGeneralVpn;
  std::int32_t Stop() override {
    RestoreRoutes();
    return CGeneralVpn::Stop();
  }
  std::int32_t GetStatistics(std::uint32_t& s, std::uint32_t& r) override {
    s = r = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(std::int32_t) override { return L""; }
  void Learn(const std::wstring& ip) { SetLocalIp(ip); }
};

std::vector<std::wstring> ListedRoutes() {
  std::vector<std::wstring> routes;
  for (int i = 0; i < kRoutes; ++i)
    routes.push_back(L"172." + std::to_wstring(16 + i / 4096) + L"." + std::to_wstring(i / 16 % 256) + L"." +
                     std::to_wstring(i % 16 * 16) + L"/28");
  return routes;
}

void Explain(const CGeneralVpn& vpn) {
  const VpnStatus status = vpn.GetStatus();
  std::fprintf(stderr, "state %d error %d detail %d, %zu failed routes\n", status.state, status.error, status.detail,
               vpn.GetFailedRoutes().size());
}

struct Plan {
  std::unique_ptr<IForwardTable> system = CreateLinuxForwardTable("/run");
  CRouteJournal journal{std::filesystem::path(gJournalFolder).wstring()};
  CJournaledForwardTable table{*system, journal};
  std::unique_ptr<CBenchVpn> vpn;

  void Prepare() {
    vpn = std::make_unique<CBenchVpn>(table,
                                      std::make_unique<CVpnRouteRequestSocketServer>(table, gJournalFolder + "/plan.sock"));
    vpn->SetRouteMode(RouteModeListedRoutes);
    vpn->SetRoutes(ListedRoutes());
    vpn->Start();
    vpn->Learn(L"10.8.0.2");
  }
};

void BM_ApplyListedRoutes(benchmark::State& state) {
  Plan plan;
  for (auto _ : state) {
    state.PauseTiming();
    plan.Prepare();
    state.ResumeTiming();
    plan.vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    state.PauseTiming();
    const bool done = plan.vpn->GetState() == GENERAL_VPN_STATE_ALL_DONE;
    if (!done) Explain(*plan.vpn);
    plan.vpn->Stop();
    if (!done) {
      state.SkipWithError("plan failed");
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRoutes);
}
BENCHMARK(BM_ApplyListedRoutes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RestoreListedRoutes(benchmark::State& state) {
  Plan plan;
  for (auto _ : state) {
    state.PauseTiming();
    plan.Prepare();
    plan.vpn->SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
    if (plan.vpn->GetState() != GENERAL_VPN_STATE_ALL_DONE) {
      Explain(*plan.vpn);
      plan.vpn->Stop();
      state.SkipWithError("plan failed");
      break;
    }
    state.ResumeTiming();
    plan.vpn->Stop();
  }
  state.SetItemsProcessed(state.iterations() * kRoutes);
}
BENCHMARK(BM_RestoreListedRoutes)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<ForwardRow> BaselineRows(IForwardTable& table) {
  ForwardRow templ;
  MakeVpnRoute(table, templ, L"10.8.0.2");
  SetRouteMetric(table, templ);
  std::vector<ForwardRow> rows;
  for (const std::wstring& entry : ListedRoutes()) {
    std::wstring destination, mask;
    ParseRouteEntry(entry, destination, mask);
    ForwardRow row = templ;
    row.destination = ParseIpv4(destination);
    row.mask = ParseIpv4(mask);
    rows.push_back(row);
  }
  return rows;
}

// The kernel's own pace through the port: no plan, no journal.
void BM_KernelAddBaseline(benchmark::State& state) {
  auto table = CreateLinuxForwardTable("/run");
  const std::vector<ForwardRow> rows = BaselineRows(*table);
  for (auto _ : state) {
    std::uint32_t failure = 0;
    for (const ForwardRow& row : rows)
      if (const std::uint32_t r = table->AddForwardRow(row)) failure = r;
    state.PauseTiming();
    for (const ForwardRow& row : rows) table->DeleteForwardRow(row);
    if (failure) {
      state.SkipWithError(("add failed: " + std::to_string(failure)).c_str());
      break;
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRoutes);
}
BENCHMARK(BM_KernelAddBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_KernelDeleteBaseline(benchmark::State& state) {
  auto table = CreateLinuxForwardTable("/run");
  const std::vector<ForwardRow> rows = BaselineRows(*table);
  for (auto _ : state) {
    state.PauseTiming();
    for (const ForwardRow& row : rows) table->AddForwardRow(row);
    state.ResumeTiming();
    std::uint32_t failure = 0;
    for (const ForwardRow& row : rows)
      if (const std::uint32_t r = table->DeleteForwardRow(row)) failure = r;
    if (failure) {
      state.SkipWithError(("delete failed: " + std::to_string(failure)).c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kRoutes);
}
BENCHMARK(BM_KernelDeleteBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

int Connect(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// 50 clients on their own connections, each making 200 requests for its 80
// hosts in turn; the first requests add the routes, later ones refresh them.
std::int64_t RunClients(const std::vector<int>& fds) {
  std::atomic<std::int64_t> answered{0};
  std::vector<std::thread> threads;
  for (std::size_t c = 0; c < fds.size(); ++c)
    threads.emplace_back([&, c] {
      unsigned char request[5] = {1};
      for (int i = 0; i < kRequestsPerClient; ++i) {
        const std::uint32_t address =
            HostToNet(0x64000000u | (static_cast<std::uint32_t>(c) << 16) | (i % kHostsPerClient + 1u));
        std::memcpy(request + 1, &address, 4);
        unsigned char reply = 0;
        if (send(fds[c], request, 5, 0) != 5 || recv(fds[c], &reply, 1, 0) != 1) return;
        if (reply == 1) ++answered;
      }
    });
  for (std::thread& t : threads) t.join();
  return answered;
}

void BM_RequestServer50Clients(benchmark::State& state) {
  auto table = CreateLinuxForwardTable("/run");
  ForwardRow templ;
  MakeVpnRoute(*table, templ, L"10.8.0.2");
  SetRouteMetric(*table, templ);
  // The server listens only in a folder nobody else can write to.
  const std::string path = gJournalFolder + "/requests.sock";
  CVpnRouteRequestSocketServer server(*table, path);
  if (!server.Start(templ)) {
    state.SkipWithError("server did not start");
    return;
  }
  std::vector<int> fds;
  for (int c = 0; c < kClients; ++c) fds.push_back(Connect(path));
  std::int64_t answered = 0;
  for (auto _ : state) answered += RunClients(fds);
  for (int fd : fds) close(fd);
  server.Stop();
  if (answered != state.iterations() * kClients * kRequestsPerClient) state.SkipWithError("a request got 0");
  state.SetItemsProcessed(answered);
}
BENCHMARK(BM_RequestServer50Clients)->Unit(benchmark::kMillisecond)->UseRealTime();

// The transport's own ceiling: one thread that answers every message with 1.
void BM_EchoBaseline50Clients(benchmark::State& state) {
  const std::string path = "/tmp/qr-bench-echo.sock";
  unlink(path.c_str());
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener, 128);
  int stop[2];
  if (pipe(stop) != 0) return;
  std::thread echo([&] {
    std::vector<pollfd> polls{{stop[0], POLLIN, 0}, {listener, POLLIN, 0}};
    for (;;) {
      poll(polls.data(), polls.size(), -1);
      if (polls[0].revents) break;
      for (std::size_t i = 2; i < polls.size(); ++i)
        if (polls[i].revents & POLLIN) {
          unsigned char buffer[4096];
          if (recv(polls[i].fd, buffer, sizeof buffer, 0) > 0) {
            const unsigned char one = 1;
            send(polls[i].fd, &one, 1, MSG_NOSIGNAL);
          }
        }
      if (polls[1].revents & POLLIN) polls.push_back({accept(listener, nullptr, nullptr), POLLIN, 0});
    }
    for (std::size_t i = 2; i < polls.size(); ++i) close(polls[i].fd);
  });
  std::vector<int> fds;
  for (int c = 0; c < kClients; ++c) fds.push_back(Connect(path));
  std::int64_t answered = 0;
  for (auto _ : state) answered += RunClients(fds);
  for (int fd : fds) close(fd);
  [[maybe_unused]] ssize_t n = write(stop[1], "x", 1);
  echo.join();
  close(listener);
  close(stop[0]);
  close(stop[1]);
  unlink(path.c_str());
  state.SetItemsProcessed(answered);
}
BENCHMARK(BM_EchoBaseline50Clients)->Unit(benchmark::kMillisecond)->UseRealTime();

bool EnterNamespace() {
  gNamespace = "qrbench" + std::to_string(getpid());
  if (Sh("ip netns add " + gNamespace) != 0) return false;
  const int fd = open(("/run/netns/" + gNamespace).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return false;
  close(fd);
  const std::string ip = "ip -n " + gNamespace + " ";
  return Sh(ip + "link set lo up") == 0 && Sh(ip + "link add qrlan0 type veth peer name qrlan0p") == 0 &&
         Sh(ip + "link set qrlan0 up") == 0 && Sh(ip + "link set qrlan0p up") == 0 &&
         Sh(ip + "addr add 192.168.77.2/24 dev qrlan0") == 0 &&
         Sh(ip + "route add default via 192.168.77.1 dev qrlan0 metric 100") == 0 &&
         Sh(ip + "link add qrvpn0 type veth peer name qrvpn0p") == 0 && Sh(ip + "link set qrvpn0 up") == 0 &&
         Sh(ip + "link set qrvpn0p up") == 0 && Sh(ip + "addr add 10.8.0.2/24 dev qrvpn0") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::fprintf(stderr, "routing_bench needs root (it makes a network namespace)\n");
    return 77;
  }
  LoadTextTable();
  gJournalFolder = (std::filesystem::temp_directory_path() / ("qr-bench-journal-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(gJournalFolder);
  const bool ready = EnterNamespace();
  int result = 1;
  if (ready) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    result = 0;
  } else {
    std::fprintf(stderr, "could not set up the network namespace\n");
  }
  Sh("ip netns del " + gNamespace);
  std::filesystem::remove_all(gJournalFolder);
  return result;
}
