// One attempt to bring up one VPN connection, from the decision to connect
// until teardown. The base holds what every kind shares: the owner's
// configuration, the state machine with its error reporting, the rows the
// route plan is built around and the per-application route server. Kinds
// (OpenVPN child process, dial-up) derive from it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "accel/route_request_server.h"
#include "platform/tick.h"
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

constexpr std::int32_t RouteModeNone = 0;
constexpr std::int32_t RouteModeDefaultGateway = 1;
constexpr std::int32_t RouteModeListedRoutes = 2;
constexpr std::int32_t RouteModePerApplication = 3;

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

// Splits a route entry ("10.0.0.0 mask 255.0.0.0" or "10.0.0.0/8", any case)
// into destination and mask texts. False when neither form is there; a
// prefix length outside 1..32 gives an empty mask.
bool ParseRouteEntry(const std::wstring& entry, std::wstring& destination, std::wstring& mask);

class CGeneralVpn {
 public:
  // `forwardTable` outlives the object; pass the journaled table so that a
  // crash cannot leave routes behind. `routeRequestServer` null means the
  // platform's own server at its fixed address.
  explicit CGeneralVpn(IForwardTable& forwardTable,
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
  // Takes down what the route plan added, forgets `routes`, stops the route
  // request server (which deletes its own routes).
  std::int32_t RestoreRoutes();
  // Counters sent and received; the meaning of result and counters is the
  // kind's.
  virtual std::int32_t GetStatistics(std::uint32_t& sent, std::uint32_t& received) = 0;
  virtual std::wstring GetErrorDetailText(std::int32_t detail) = 0;
  // A kind looks up its own codes first and falls back to this.
  virtual std::wstring GetErrorText(std::int32_t errorCode);
  std::wstring GetStateText(std::int32_t stateValue) const;

  // The only way progress is reported; runs the route plan on CONNECTED
  // without error and then reports ALL_DONE instead (see the .cpp).
  void SetState(std::int32_t newState, std::int32_t newError, std::int32_t newDetail);
  // Null and "0.0.0.0" are stored as empty.
  void SetVpnDns(const wchar_t* first, const wchar_t* second);
  void SetProxy(std::int32_t newType, const wchar_t* server, std::int32_t port, const wchar_t* user,
                const wchar_t* pass);
  std::wstring GetLocalIp() const { return localIp; }
  std::int32_t GetType() const { return type; }
  std::wstring GetTypeName() const;
  // "State:...\r\nError:...\r\nDetail:...\r\n" in the user's language.
  std::wstring GetReport();

  CVpnRouteRequestBaseServer& RouteRequestServer() { return *routeRequestServer; }

  // Configuration, set by the owner before Start.
  CGeneralVpnCallbackInterface* callback = nullptr;
  std::int32_t routeMode = RouteModeNone;
  std::vector<std::wstring> routes;  // entries of the route plan
  std::wstring serverHost;
  std::wstring username;
  std::wstring password;

  // Read by the owner on its own thread after a notification.
  std::vector<std::wstring> failedRoutes;
  std::int32_t state = GENERAL_VPN_STATE_DISCONNECTED;
  std::int32_t error = GENERAL_VPN_ERROR_SUCCESS;
  std::int32_t errorDetail = 0;
  Tick stopTick = 0;
  ForwardRow vpnRoute;      // template of the plan's routes through the VPN
  ForwardRow defaultRoute;  // the default route in force when Start ran
  std::wstring dns1;
  std::wstring dns2;
  std::int32_t proxyType = 0;  // 0 none, 1 HTTP, 2 SOCKS
  std::wstring proxyServer;
  std::int32_t proxyPort = 0;
  std::wstring proxyUsername;
  std::wstring proxyPassword;

 protected:
  // For kinds: set `type` in the constructor (1 PPTP, 2 L2TP, 3 OpenVPN),
  // `localIp` (dotted) before reporting CONNECTED, `vpnGateway` when the
  // server pushed one, and use ForwardTable() for their own route reads.
  IForwardTable& ForwardTable() { return forwardTable; }
  std::int32_t type = 0;
  std::wstring localIp;
  std::wstring vpnGateway;

 private:
  bool ApplyRoutePlan();
  void RestoreRoutePlan();
  // Adds one route of the plan and remembers it for RestoreRoutePlan.
  std::uint32_t AddPlanRoute(std::wstring_view destination, std::wstring_view mask, const ForwardRow& templ);

  IForwardTable& forwardTable;
  std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer;
  // Exactly the rows this connection's plan added: restoring deletes these
  // and nothing else, so a route that was already there stays.
  std::vector<ForwardRow> planRoutes;
};
