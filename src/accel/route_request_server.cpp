#include "accel/route_request_server.h"

#include <cstring>

CVpnRouteRequestBaseServer::CVpnRouteRequestBaseServer(IForwardTable& table, Clock clock)
    : table_(table), clock_(std::move(clock)) {}

CVpnRouteRequestBaseServer::~CVpnRouteRequestBaseServer() = default;

bool CVpnRouteRequestBaseServer::Start(const ForwardRow& routeTemplate) {
  if (thread_.joinable()) return false;
  if (!PrepareStart()) return false;
  template_ = routeTemplate;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    return false;
  }
  return true;
}

void CVpnRouteRequestBaseServer::Stop() {
  if (!thread_.joinable()) return;
  SignalStop();
  thread_.join();
  // Run purges on a clean stop; this covers a thread that ended on a failed
  // wait, which would otherwise leave its routes behind.
  PurgeRoutes(kPurgeAll);
}

void CVpnRouteRequestBaseServer::ClearKeptRoutes() { kept_.clear(); }

void CVpnRouteRequestBaseServer::AddKeptRoute(std::wstring_view destination, std::wstring_view mask) {
  kept_.emplace_back(ParseIpv4(destination), ParseIpv4(mask));
}

bool CVpnRouteRequestBaseServer::AddRequestedRoute(std::uint32_t address) {
  if (address == 0 || !MayRouteOnRequest(policy_, address)) return false;
  const Tick now = Now();
  if (auto it = requested_.find(address); it != requested_.end()) {
    it->second.lastRequest = now;
    return true;
  }
  if (requested_.size() >= kMaxRequestedRoutes) {
    PurgeRoutes(kPurgeExpired);
    if (requested_.size() >= kMaxRequestedRoutes) return false;
  }
  ForwardRow row = template_;
  row.destination = address;
  row.mask = 0xFFFFFFFFu;
  if (table_.AddForwardRow(row) != 0) return false;
  requested_[address] = {address, 0xFFFFFFFFu, now};
  return true;
}

void CVpnRouteRequestBaseServer::PurgeRoutes(int mode) {
  const Tick now = Now();
  for (auto it = requested_.begin(); it != requested_.end();) {
    const RequestedRoute& route = it->second;
    if (mode == kPurgeExpired) {
      bool kept = false;
      for (const auto& [destination, mask] : kept_)
        if (destination == route.destination && mask == route.mask) kept = true;
      if (kept || TickElapsed(now, route.lastRequest) < kRequestedRouteLifetimeMs) {
        ++it;
        continue;
      }
    }
    if (route.destination != 0 && route.mask != 0) {
      ForwardRow row = template_;
      row.destination = route.destination;
      row.mask = route.mask;
      table_.DeleteForwardRow(row);
    }
    it = requested_.erase(it);
  }
}

unsigned char CVpnRouteRequestBaseServer::Answer(const unsigned char* request, std::size_t length) {
  std::uint32_t address = 0;
  if (length == kRouteRequestLength && request[0] == kRouteRequestCommandAdd) std::memcpy(&address, request + 1, 4);
  return AddRequestedRoute(address) ? 1 : 0;
}

std::vector<RequestedRoute> CVpnRouteRequestBaseServer::RequestedRoutes() const {
  std::vector<RequestedRoute> routes;
  for (const auto& [address, route] : requested_) routes.push_back(route);
  return routes;
}
