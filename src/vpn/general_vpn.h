// One attempt to bring up one VPN connection, from the decision to connect
// until teardown. The base holds what every kind shares: the owner's
// configuration, the state machine with its error reporting, the rows the
// route plan is built around and the per-application route server. Kinds
// (OpenVPN child process, dial-up) derive from it.
#pragma once
#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "accel/route_request_server.h"
#include "platform/tick.h"
#include "routing/product_forward_table.h"
#include "routing/route_plan.h"
#include "routing/route_table.h"

enum GeneralVpnState : std::int32_t {
  GENERAL_VPN_STATE_DISCONNECT = 0,
  GENERAL_VPN_STATE_DISCONNECTED = 1,
  GENERAL_VPN_STATE_START = 2,
  GENERAL_VPN_STATE_PREPARE = 3,
  GENERAL_VPN_STATE_CONNECT = 4,
  GENERAL_VPN_STATE_AUTHENTICATE = 5,
  GENERAL_VPN_STATE_AUTHENTICATED = 6,
  GENERAL_VPN_STATE_CONNECTED = 7,
  GENERAL_VPN_STATE_ALL_DONE = 8,
  GENERAL_VPN_STATE_RESTORE_ROUTE = 9,
  GENERAL_VPN_STATE_MODIFY_ROUTE = 10,
};

// Codes 0 to 7 are shared; from 9 on each kind has its own meanings.
enum GeneralVpnError : std::int32_t {
  GENERAL_VPN_ERROR_SUCCESS = 0,
  GENERAL_VPN_ERROR_INTERNAL = 1,
  GENERAL_VPN_ERROR_CONNECT = 2,
  GENERAL_VPN_ERROR_GET_GATEWAY = 3,
  GENERAL_VPN_ERROR_GET_LOCAL_IP = 4,
  GENERAL_VPN_ERROR_MODIFY_ROUTE = 5,
  GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER = 6,
  GENERAL_VPN_ERROR_GET_VPN_DNS = 7,
};

// Detail that goes with GENERAL_VPN_ERROR_GET_GATEWAY when Start finds no
// default route.
constexpr std::int32_t kNoDefaultRouteDetail = 13;

class CGeneralVpn;

// The observer. Called on the kind's worker thread: it must not block and
// must not call back into the connection (post to your own thread instead).
class CGeneralVpnCallbackInterface {
 public:
  virtual void OnVpnStateChanged(CGeneralVpn* vpn) = 0;

 protected:
  ~CGeneralVpnCallbackInterface() = default;
};

static_assert(GENERAL_VPN_ERROR_GET_GATEWAY == kRoutePlanNoVpnInterface &&
              GENERAL_VPN_ERROR_MODIFY_ROUTE == kRoutePlanRoutesFailed &&
              GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER == kRoutePlanServerFailed);

// The state triple, read in one step.
struct VpnStatus {
  std::int32_t state = GENERAL_VPN_STATE_DISCONNECTED;
  std::int32_t error = GENERAL_VPN_ERROR_SUCCESS;
  std::int32_t detail = 0;
  bool operator==(const VpnStatus&) const = default;
};

struct VpnProxy {
  std::int32_t type = 0;  // 0 none, 1 HTTP, 2 SOCKS
  std::wstring server;
  std::int32_t port = 0;
  std::wstring username;  // never null: absent is empty
  std::wstring password;
};

// How a kind derives from it:
//   - its constructor calls SetType;
//   - its Start calls CGeneralVpn::Start first and gives up on a non-zero
//     result (OpenVPN goes on), then StoreState(PREPARE, 0, 0) and gets going;
//   - on its worker thread it reports progress with SetState only, calls
//     SetLocalIp (and SetVpnGateway, SetVpnDns) before it reports
//     GENERAL_VPN_STATE_CONNECTED, and never reports beyond that: SetState
//     runs the route plan and turns a clean CONNECTED into ALL_DONE;
//   - its Stop calls RestoreRoutes first and CGeneralVpn::Stop last, and
//     makes sure its worker has finished in between;
//   - GetStatistics, GetErrorDetailText and its own error texts (codes 9 and
//     up, falling back to CGeneralVpn::GetErrorText) are its own.
//
// Threads. Every accessor is safe from any thread. State changes, the route
// plan, restoring and the route request server happen in one place, under
// one lock (the decision lock), so the worker's SetState and the owner's
// Stop never run into each other: Stop first marks the connection as
// stopping, so a CONNECTED that arrives after that applies nothing, and
// once Stop has returned SetState changes nothing at all. The observer is
// called under the decision lock: it must not call back into the
// connection's SetState, Start, Stop or SetCallback.
class CGeneralVpn {
 public:
  // `forwardTable` outlives the object; the product's is journaled so that a
  // crash cannot leave routes behind (the request server uses it too). `routeRequestServer` null means the
  // platform's own server at its fixed address.
  explicit CGeneralVpn(IForwardTable& forwardTable = ProductForwardTable(),
                       std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer = nullptr);
  virtual ~CGeneralVpn();
  CGeneralVpn(const CGeneralVpn&) = delete;
  CGeneralVpn& operator=(const CGeneralVpn&) = delete;

  // 0 when the attempt is under way; otherwise the failure is in the fields
  // and nothing is notified. A kind's Start calls this first.
  virtual std::int32_t Start();
  // Records stopTick, clears vpnRoute, sets DISCONNECTED without notifying.
  // A kind's Stop calls RestoreRoutes first and this last.
  virtual std::int32_t Stop();
  // Marks the connection as stopping, takes down what the route plan added,
  // forgets the route list and stops the route request server (which
  // deletes its own routes). Waits for a plan that is being applied.
  std::int32_t RestoreRoutes();
  // Counters sent and received; the meaning of result and counters is the
  // kind's.
  virtual std::int32_t GetStatistics(std::uint32_t& sent, std::uint32_t& received) = 0;
  virtual std::wstring GetErrorDetailText(std::int32_t detail) = 0;
  // A kind looks up its own codes first and falls back to this.
  virtual std::wstring GetErrorText(std::int32_t errorCode);
  std::wstring GetStateText(std::int32_t stateValue) const;

  // The only way progress is reported: stores the triple and tells the
  // observer. CONNECTED with error 0 first runs the route plan, which
  // reports MODIFY_ROUTE itself; the observer then hears ALL_DONE, or the
  // plan's error and nothing more.
  void SetState(std::int32_t newState, std::int32_t newError, std::int32_t newDetail);
  // Null and "0.0.0.0" are stored as empty.
  void SetVpnDns(const wchar_t* first, const wchar_t* second);
  void SetProxy(std::int32_t newType, const wchar_t* server, std::int32_t port, const wchar_t* user,
                const wchar_t* pass);
  std::wstring GetTypeName() const;
  // "State:...\r\nError:...\r\nDetail:...\r\n" in the user's language.
  std::wstring GetReport();

  // Configuration, set by the owner before Start.
  // Once SetCallback returns, the old observer is not being called.
  void SetCallback(CGeneralVpnCallbackInterface* observer);
  void SetRouteMode(std::int32_t mode);
  void SetRoutes(std::vector<std::wstring> entries);
  void SetServerHost(std::wstring host);
  void SetCredentials(std::wstring user, std::wstring pass);

  std::int32_t GetRouteMode() const;
  std::vector<std::wstring> GetRoutes() const;
  std::wstring GetServerHost() const;
  std::wstring GetUsername() const;
  std::wstring GetPassword() const;
  VpnProxy GetProxy() const;

  // What the connection has found out; the owner reads these after a
  // notification, from its own thread.
  VpnStatus GetStatus() const;
  std::int32_t GetState() const { return GetStatus().state; }
  std::int32_t GetError() const { return GetStatus().error; }
  std::int32_t GetErrorDetail() const { return GetStatus().detail; }
  std::vector<std::wstring> GetFailedRoutes() const;
  Tick GetStopTick() const;
  ForwardRow GetVpnRoute() const;      // template of the plan's routes through the VPN
  ForwardRow GetDefaultRoute() const;  // the default route in force when Start ran
  std::wstring GetLocalIp() const;
  std::wstring GetVpnGateway() const;
  std::wstring GetDns1() const;
  std::wstring GetDns2() const;
  std::int32_t GetType() const;

  CVpnRouteRequestBaseServer& RouteRequestServer() { return *routeRequestServer; }

 protected:
  // The table this connection changes routes through; kinds use it for
  // their own reads (GetAdapterDns of a dial-up adapter, for instance).
  IForwardTable& ForwardTable() { return forwardTable; }
  void SetType(std::int32_t kind);
  // Writes the triple without telling anyone, as Start and Stop do.
  void StoreState(std::int32_t newState, std::int32_t newError, std::int32_t newDetail);
  // Sets error and detail, state untouched and without telling anyone,
  // unless an error is recorded already.
  void NoteErrorIfNone(std::int32_t newError, std::int32_t newDetail);
  void SetLocalIp(std::wstring address);
  void SetVpnGateway(std::wstring address);
  // True from RestoreRoutes (the start of a kind's Stop) until the next Start.
  bool IsStopping() const { return phase_.load() != kRunning; }

 private:
  enum Phase { kRunning, kStopping, kStopped };
  // Under the decision lock.
  void ReportLocked(std::int32_t newState, std::int32_t newError, std::int32_t newDetail);
  void ApplyRoutePlanLocked();

  IForwardTable& forwardTable;
  std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer;
  CRoutePlan plan;

  // Serialises state changes, the plan, restoring and the server.
  std::mutex decisionLock;
  std::atomic<int> phase_{kRunning};

  // Guards every field below; never held while calling out.
  mutable std::mutex fieldsLock;
  CGeneralVpnCallbackInterface* callback = nullptr;
  std::int32_t routeMode = RouteModeNone;
  std::vector<std::wstring> routes;  // entries of the route plan
  std::wstring serverHost;
  std::wstring username;
  std::wstring password;
  std::vector<std::wstring> failedRoutes;
  VpnStatus status;
  Tick stopTick = 0;
  ForwardRow vpnRoute;
  ForwardRow defaultRoute;
  std::wstring dns1;
  std::wstring dns2;
  VpnProxy proxy;
  std::int32_t type = 0;    // 1 PPTP, 2 L2TP, 3 OpenVPN
  std::wstring localIp;     // the VPN interface's address, dotted
  std::wstring vpnGateway;  // pushed by the server; empty when none
};
