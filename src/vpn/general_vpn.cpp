#include "vpn/general_vpn.h"

#include "text/text_table.h"

CGeneralVpn::CGeneralVpn(IForwardTable& forwardTable, std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer)
    : forwardTable(forwardTable), routeRequestServer(std::move(routeRequestServer)) {
  if (!this->routeRequestServer) this->routeRequestServer = CreateRouteRequestServer(forwardTable);
}

CGeneralVpn::~CGeneralVpn() {
  // The server thread adds routes through the table; it must be gone first.
  routeRequestServer->Stop();
}

std::int32_t CGeneralVpn::Start() {
  failedRoutes.clear();
  state = GENERAL_VPN_STATE_START;
  error = GENERAL_VPN_ERROR_SUCCESS;
  errorDetail = 0;
  std::vector<ForwardRow> rows;
  const ForwardRow* chosen = nullptr;
  if (forwardTable.ReadForwardTable(rows) == 0) chosen = ChooseDefaultRoute(rows);
  if (!chosen) {
    error = GENERAL_VPN_ERROR_GET_GATEWAY;
    errorDetail = kNoDefaultRouteDetail;
    return GENERAL_VPN_ERROR_GET_GATEWAY;
  }
  defaultRoute = *chosen;
  defaultRoute.age = 0;
  vpnRoute = ForwardRow{};
  if (routeMode == RouteModeDefaultGateway) vpnRoute = defaultRoute;
  return 0;
}

std::int32_t CGeneralVpn::Stop() {
  stopTick = GetTickMs();
  vpnRoute = ForwardRow{};
  state = GENERAL_VPN_STATE_DISCONNECTED;
  error = GENERAL_VPN_ERROR_SUCCESS;
  errorDetail = 0;
  return 0;
}

std::int32_t CGeneralVpn::RestoreRoutes() {
  RestoreRoutePlan();
  routes.clear();
  routeRequestServer->Stop();
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
  state = newState;
  error = newError;
  errorDetail = newDetail;
  if (newState == GENERAL_VPN_STATE_CONNECTED && newError == GENERAL_VPN_ERROR_SUCCESS) {
    // The plan has already told the observer about its own failure.
    if (!ApplyRoutePlan()) return;
    state = GENERAL_VPN_STATE_ALL_DONE;
    error = GENERAL_VPN_ERROR_SUCCESS;
    errorDetail = 0;
  }
  if (callback) callback->OnVpnStateChanged(this);
}

void CGeneralVpn::SetVpnDns(const wchar_t* first, const wchar_t* second) {
  auto clean = [](const wchar_t* text) {
    std::wstring value = text ? text : L"";
    return value == L"0.0.0.0" ? std::wstring() : value;
  };
  dns1 = clean(first);
  dns2 = clean(second);
}

void CGeneralVpn::SetProxy(std::int32_t newType, const wchar_t* server, std::int32_t port, const wchar_t* user,
                           const wchar_t* pass) {
  proxyType = newType;
  proxyServer = server ? server : L"";
  proxyPort = port;
  proxyUsername = user ? user : L"";
  proxyPassword = pass ? pass : L"";
}

std::wstring CGeneralVpn::GetTypeName() const {
  switch (type) {
    case 1: return L"PPTP";
    case 2: return L"L2TP";
    case 3: return L"OpenVPN";
    default: return L"(Unknown VPN)";
  }
}

std::wstring CGeneralVpn::GetReport() {
  return GetText("VpnState") + L":" + GetStateText(state) + L"\r\n" + GetText("VpnErrorMessage") + L":" +
         GetErrorText(error) + L"\r\n" + GetText("VpnErrorDetail") + L":" + GetErrorDetailText(errorDetail) + L"\r\n";
}
