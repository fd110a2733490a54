#include "vpn/general_vpn.h"

#include "text/text_table.h"

CGeneralVpn::CGeneralVpn(IForwardTable& forwardTable, std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer)
    : forwardTable(forwardTable),
      routeRequestServer(routeRequestServer ? std::move(routeRequestServer) : CreateRouteRequestServer(forwardTable)),
      plan(forwardTable, *this->routeRequestServer) {}

CGeneralVpn::~CGeneralVpn() {
  // The server thread adds routes through the table; it must be gone first.
  routeRequestServer->Stop();
}

std::int32_t CGeneralVpn::Start() {
  std::lock_guard decision(decisionLock);
  phase_ = kRunning;
  std::vector<ForwardRow> rows;
  const ForwardRow* chosen = nullptr;
  if (forwardTable.ReadForwardTable(rows) == 0) chosen = ChooseDefaultRoute(rows);
  std::lock_guard lock(fieldsLock);
  failedRoutes.clear();
  status = {GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_SUCCESS, 0};
  if (!chosen) {
    status.error = GENERAL_VPN_ERROR_GET_GATEWAY;
    status.detail = kNoDefaultRouteDetail;
    return GENERAL_VPN_ERROR_GET_GATEWAY;
  }
  defaultRoute = *chosen;
  defaultRoute.age = 0;
  vpnRoute = ForwardRow{};
  if (routeMode == RouteModeDefaultGateway) vpnRoute = defaultRoute;
  return 0;
}

std::int32_t CGeneralVpn::Stop() {
  std::lock_guard decision(decisionLock);
  phase_ = kStopped;
  std::lock_guard lock(fieldsLock);
  stopTick = GetTickMs();
  vpnRoute = ForwardRow{};
  status = {GENERAL_VPN_STATE_DISCONNECTED, GENERAL_VPN_ERROR_SUCCESS, 0};
  return 0;
}

std::int32_t CGeneralVpn::RestoreRoutes() {
  // Before the lock: a plan being applied sees it between two routes and
  // stops adding.
  int running = kRunning;
  phase_.compare_exchange_strong(running, kStopping);
  std::lock_guard decision(decisionLock);
  ReportLocked(GENERAL_VPN_STATE_RESTORE_ROUTE, 0, 0);
  plan.Restore();
  std::lock_guard lock(fieldsLock);
  routes.clear();
  return 0;
}

std::wstring CGeneralVpn::GetErrorText(std::int32_t errorCode) {
  static const char* const keys[] = {
      "GENERAL_VPN_ERROR_SUCCESS",       "GENERAL_VPN_ERROR_INTERNAL",
      "GENERAL_VPN_ERROR_CONNECT",       "GENERAL_VPN_ERROR_GET_GATEWAY",
      "GENERAL_VPN_ERROR_GET_LOCAL_IP",  "GENERAL_VPN_ERROR_MODIFY_ROUTE",
      "GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER", "GENERAL_VPN_ERROR_GET_VPN_DNS",
  };
  if (errorCode >= 0 && errorCode < static_cast<std::int32_t>(std::size(keys))) return GetText(keys[errorCode]);
  return GetText("VpnUnknownError");
}

std::wstring CGeneralVpn::GetStateText(std::int32_t stateValue) const {
  static const char* const keys[] = {
      "GENERAL_VPN_STATE_DISCONNECT",   "GENERAL_VPN_STATE_DISCONNECTED", "GENERAL_VPN_STATE_START",
      "GENERAL_VPN_STATE_PREPARE",      "GENERAL_VPN_STATE_CONNECT",      "GENERAL_VPN_STATE_AUTHENTICATE",
      "GENERAL_VPN_STATE_AUTHENTICATED", "GENERAL_VPN_STATE_CONNECTED",   "GENERAL_VPN_STATE_ALL_DONE",
      "GENERAL_VPN_STATE_RESTORE_ROUTE", "GENERAL_VPN_STATE_MODIFY_ROUTE",
  };
  if (stateValue >= 0 && stateValue < static_cast<std::int32_t>(std::size(keys))) return GetText(keys[stateValue]);
  return GetText("VpnUnknownState");
}

void CGeneralVpn::SetState(std::int32_t newState, std::int32_t newError, std::int32_t newDetail) {
  std::lock_guard decision(decisionLock);
  const int phase = phase_.load();
  // A stopped connection has nothing more to say, and one that is being
  // stopped must not bring routes or the server up again.
  if (phase == kStopped) return;
  if (newState == GENERAL_VPN_STATE_CONNECTED && newError == GENERAL_VPN_ERROR_SUCCESS) {
    if (phase == kStopping) return;
    {
      std::lock_guard lock(fieldsLock);
      status = {newState, newError, newDetail};
    }
    ApplyRoutePlanLocked();
    return;
  }
  ReportLocked(newState, newError, newDetail);
}

void CGeneralVpn::ReportLocked(std::int32_t newState, std::int32_t newError, std::int32_t newDetail) {
  CGeneralVpnCallbackInterface* observer;
  {
    std::lock_guard lock(fieldsLock);
    status = {newState, newError, newDetail};
    observer = callback;
  }
  if (observer) observer->OnVpnStateChanged(this);
}

void CGeneralVpn::ApplyRoutePlanLocked() {
  RoutePlanInput input;
  {
    std::lock_guard lock(fieldsLock);
    failedRoutes.clear();
    input.routeMode = routeMode;
    input.routes = routes;
    input.vpnRoute = vpnRoute;
    input.defaultRoute = defaultRoute;
    input.localIp = localIp;
    input.serverHost = serverHost;
    input.vpnGateway = vpnGateway;
    input.dns1 = dns1;
    input.dns2 = dns2;
    input.proxyType = proxy.type;
    input.proxyServer = proxy.server;
  }
  ReportLocked(GENERAL_VPN_STATE_MODIFY_ROUTE, 0, 0);
  RoutePlanOutcome outcome = plan.Apply(input, [this] { return phase_.load() != kRunning; });
  {
    std::lock_guard lock(fieldsLock);
    vpnRoute = outcome.vpnRoute;
    defaultRoute = outcome.defaultRoute;
    failedRoutes = std::move(outcome.failedRoutes);
  }
  // Stop is waiting for the lock and will take down what was added.
  if (outcome.cancelled) return;
  // The plan's failure is the last word: ALL_DONE never follows it.
  if (outcome.error != 0) ReportLocked(GENERAL_VPN_STATE_MODIFY_ROUTE, outcome.error, outcome.detail);
  else ReportLocked(GENERAL_VPN_STATE_ALL_DONE, GENERAL_VPN_ERROR_SUCCESS, 0);
}

void CGeneralVpn::SetVpnDns(const wchar_t* first, const wchar_t* second) {
  auto clean = [](const wchar_t* text) {
    std::wstring value = text ? text : L"";
    return value == L"0.0.0.0" ? std::wstring() : value;
  };
  std::lock_guard lock(fieldsLock);
  dns1 = clean(first);
  dns2 = clean(second);
}

void CGeneralVpn::SetProxy(std::int32_t newType, const wchar_t* server, std::int32_t port, const wchar_t* user,
                           const wchar_t* pass) {
  std::lock_guard lock(fieldsLock);
  proxy = {newType, server ? server : L"", port, user ? user : L"", pass ? pass : L""};
}

std::wstring CGeneralVpn::GetTypeName() const {
  switch (GetType()) {
    case 1: return L"PPTP";
    case 2: return L"L2TP";
    case 3: return L"OpenVPN";
    default: return L"(Unknown VPN)";
  }
}

std::wstring CGeneralVpn::GetReport() {
  const VpnStatus now = GetStatus();
  return GetText("VpnState") + L":" + GetStateText(now.state) + L"\r\n" + GetText("VpnErrorMessage") + L":" +
         GetErrorText(now.error) + L"\r\n" + GetText("VpnErrorDetail") + L":" + GetErrorDetailText(now.detail) +
         L"\r\n";
}

void CGeneralVpn::SetCallback(CGeneralVpnCallbackInterface* observer) {
  // Under the decision lock: a notification under way finishes first.
  std::lock_guard decision(decisionLock);
  std::lock_guard lock(fieldsLock);
  callback = observer;
}

#define QUILLNET_SETTER(Name, field, Type) \
  void CGeneralVpn::Name(Type value) {     \
    std::lock_guard lock(fieldsLock);      \
    field = std::move(value);              \
  }
#define QUILLNET_GETTER(Name, field, Type) \
  Type CGeneralVpn::Name() const {         \
    std::lock_guard lock(fieldsLock);      \
    return field;                          \
  }
QUILLNET_SETTER(SetRouteMode, routeMode, std::int32_t)
QUILLNET_SETTER(SetRoutes, routes, std::vector<std::wstring>)
QUILLNET_SETTER(SetServerHost, serverHost, std::wstring)
QUILLNET_SETTER(SetType, type, std::int32_t)
QUILLNET_SETTER(SetLocalIp, localIp, std::wstring)
QUILLNET_SETTER(SetVpnGateway, vpnGateway, std::wstring)
QUILLNET_GETTER(GetRouteMode, routeMode, std::int32_t)
QUILLNET_GETTER(GetRoutes, routes, std::vector<std::wstring>)
QUILLNET_GETTER(GetServerHost, serverHost, std::wstring)
QUILLNET_GETTER(GetUsername, username, std::wstring)
QUILLNET_GETTER(GetPassword, password, std::wstring)
QUILLNET_GETTER(GetProxy, proxy, VpnProxy)
QUILLNET_GETTER(GetStatus, status, VpnStatus)
QUILLNET_GETTER(GetFailedRoutes, failedRoutes, std::vector<std::wstring>)
QUILLNET_GETTER(GetStopTick, stopTick, Tick)
QUILLNET_GETTER(GetVpnRoute, vpnRoute, ForwardRow)
QUILLNET_GETTER(GetDefaultRoute, defaultRoute, ForwardRow)
QUILLNET_GETTER(GetLocalIp, localIp, std::wstring)
QUILLNET_GETTER(GetVpnGateway, vpnGateway, std::wstring)
QUILLNET_GETTER(GetDns1, dns1, std::wstring)
QUILLNET_GETTER(GetDns2, dns2, std::wstring)
QUILLNET_GETTER(GetType, type, std::int32_t)
#undef QUILLNET_SETTER
#undef QUILLNET_GETTER

void CGeneralVpn::SetCredentials(std::wstring user, std::wstring pass) {
  std::lock_guard lock(fieldsLock);
  username = std::move(user);
  password = std::move(pass);
}

void CGeneralVpn::StoreState(std::int32_t newState, std::int32_t newError, std::int32_t newDetail) {
  std::lock_guard lock(fieldsLock);
  status = {newState, newError, newDetail};
}

void CGeneralVpn::NoteErrorIfNone(std::int32_t newError, std::int32_t newDetail) {
  std::lock_guard lock(fieldsLock);
  if (status.error != GENERAL_VPN_ERROR_SUCCESS) return;
  status.error = newError;
  status.detail = newDetail;
}
