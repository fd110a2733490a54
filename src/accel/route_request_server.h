// The client's side of the per-application route requests: a server thread
// that answers 5-byte requests (command 1 + IPv4 address in network order)
// with one byte, adds a host route through the VPN for each address, forgets
// routes nobody asked for during six minutes and deletes every route it added
// when it stops. The transport (named pipe on Windows, sequenced-packet Unix
// socket on Linux) lives in the derived classes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/tick.h"
#include "routing/route_request_service.h"
#include "routing/route_table.h"

constexpr std::uint32_t kRequestedRouteLifetimeMs = 360000;
constexpr std::size_t kRouteRequestLength = 5;
constexpr unsigned char kRouteRequestCommandAdd = 1;
constexpr std::size_t kRouteRequestBufferSize = 4096;
// Other processes decide what the server adds: at most this many host
// routes at once. A request for a new address beyond it gets reply 0 and
// adds nothing; the expired ones are purged first to make room.
constexpr std::size_t kMaxRequestedRoutes = 4096;
// The stop event and 62 instances fill one wait of 63 handles.
constexpr int kRouteRequestMaxInstances = 62;

struct RequestedRoute {
  std::uint32_t destination = 0;
  std::uint32_t mask = 0;
  Tick lastRequest = 0;
};

class CVpnRouteRequestBaseServer : public IRouteRequestService {
 public:
  using Clock = std::function<Tick()>;

  explicit CVpnRouteRequestBaseServer(IForwardTable& table, Clock clock = GetTickMs);
  // Derived classes stop the server in their own destructor, while their
  // transport still exists.
  ~CVpnRouteRequestBaseServer() override;
  CVpnRouteRequestBaseServer(const CVpnRouteRequestBaseServer&) = delete;
  CVpnRouteRequestBaseServer& operator=(const CVpnRouteRequestBaseServer&) = delete;

  // False when already running, when another live server holds the
  // endpoint (it is never taken over), or when the transport cannot be set
  // up.
  bool Start(const ForwardRow& routeTemplate) override;
  // Waits for the thread; afterwards no route added on request is left.
  void Stop() override;
  bool IsRunning() const { return thread_.joinable(); }

  // Only while stopped: the list is read by the server thread.
  void ClearKeptRoutes() override;
  void AddKeptRoute(std::wstring_view destination, std::wstring_view mask) override;
  void SetDestinationPolicy(const RouteRequestPolicy& policy) override { policy_ = policy; }

  bool AddRequestedRoute(std::uint32_t address);
  enum PurgeMode { kPurgeAll = 0, kPurgeExpired = 1 };
  void PurgeRoutes(int mode);

  // The reply byte for one request message of `length` bytes.
  unsigned char Answer(const unsigned char* request, std::size_t length);

  // For inspection while stopped (tests, diagnostics).
  std::vector<RequestedRoute> RequestedRoutes() const;

 protected:
  // The thread body; returns when stopped.
  virtual void Run() = 0;
  // Transport set-up before the thread starts, and the signal that ends Run.
  virtual bool PrepareStart() { return true; }
  virtual void SignalStop() = 0;
  Tick Now() const { return clock_(); }

 private:
  IForwardTable& table_;
  Clock clock_;
  std::thread thread_;
  ForwardRow template_;
  std::map<std::uint32_t, RequestedRoute> requested_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> kept_;
  RouteRequestPolicy policy_;
};

// The platform's server. `endpoint` is the pipe name on Windows and the
// socket path on Linux; empty means the product's fixed one.
std::unique_ptr<CVpnRouteRequestBaseServer> CreateRouteRequestServer(IForwardTable& table,
                                                                     const std::wstring& endpoint = {},
                                                                     CVpnRouteRequestBaseServer::Clock clock = GetTickMs);
