// Route entries and the rest of the plan's input as the account service and
// the pushed options give them: every mode applied and restored leaves the
// table exactly as it found it, and nothing but an entry or the proxy is ever
// listed as failed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fakes/fake_forward_table.h"
#include "fuzz_input.h"
#include "routing/route_plan.h"

namespace {

class CFakeRequestServer : public IRouteRequestService {
 public:
  bool startResult = true;
  bool running = false;
  bool Start(const ForwardRow&) override { return running = startResult; }
  void Stop() override { running = false; }
  void ClearKeptRoutes() override {}
  void AddKeptRoute(std::wstring_view, std::wstring_view) override {}
  void SetDestinationPolicy(const RouteRequestPolicy&) override {}
};

bool SameRows(std::vector<ForwardRow> a, std::vector<ForwardRow> b) {
  const auto key = [](const ForwardRow& r) {
    return std::tie(r.destination, r.mask, r.nextHop, r.ifIndex, r.metric1, r.type, r.protocol, r.policy);
  };
  const auto less = [&](const ForwardRow& x, const ForwardRow& y) { return key(x) < key(y); };
  std::sort(a.begin(), a.end(), less);
  std::sort(b.begin(), b.end(), less);
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFuzzInput in(data, size);
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::vector<ForwardRow> before = table.Rows();
  CFakeRequestServer server;
  const std::uint8_t flags = in.Byte();
  server.startResult = flags & 1;

  RoutePlanInput input;
  input.routeMode = static_cast<std::int32_t>(in.Byte() % 5);
  input.proxyType = (flags >> 1) % 3;
  input.defaultRoute = before.front().destination == 0 ? before.front() : ForwardRow{};
  if (input.routeMode == RouteModeDefaultGateway) input.vpnRoute = input.defaultRoute;
  input.localIp = Widen(in.Line());
  input.vpnGateway = Widen(in.Line());
  input.dns1 = Widen(in.Line());
  input.dns2 = Widen(in.Line());
  input.proxyServer = Widen(in.Line());
  while (!in.Empty()) input.routes.push_back(Widen(in.Line()));

  for (const std::wstring& entry : input.routes) {
    std::wstring destination, mask;
    if (ParseRouteEntry(entry, destination, mask)) FUZZ_CHECK(destination.size() <= entry.size());
  }

  int calls = 0;
  const int cancelAt = (flags >> 3) ? (flags >> 3) : -1;  // sometimes the connection stops midway
  CRoutePlan plan(table, server);
  const RoutePlanOutcome outcome = plan.Apply(input, [&] { return ++calls == cancelAt; });
  FUZZ_CHECK(outcome.failedRoutes.size() <= input.routes.size() + 1);
  for (const std::wstring& failed : outcome.failedRoutes)
    FUZZ_CHECK(failed == input.proxyServer || std::find(input.routes.begin(), input.routes.end(), failed) != input.routes.end());
  FUZZ_CHECK(table.CountRows() == before.size() + plan.AddedRoutes());
  if (outcome.error == 0 && !outcome.cancelled && input.routeMode == RouteModePerApplication) FUZZ_CHECK(server.running);
  plan.Restore();
  FUZZ_CHECK(!server.running);
  FUZZ_CHECK(SameRows(table.Rows(), before));
  return 0;
}
