#include "vpn/windows_vpn.h"

#include "text/text_table.h"

namespace {

constexpr std::uint32_t kProtocolIp = 4;
constexpr std::uint32_t kFramingPpp = 1;
constexpr std::uint32_t kEntryTypeVpn = 2;
constexpr std::uint32_t kEncryptionOptional = 3;
constexpr std::uint32_t kStrategyPptpOnly = 1;
constexpr std::uint32_t kStrategyL2tpOnly = 3;
constexpr int kMaxEnumerations = 5;
constexpr std::uint32_t kHangUpPollMs = 100;
constexpr std::uint32_t kHangUpLimitMs = 3000;
constexpr std::uint32_t kErrorPortNotAvailable = 633;
constexpr std::uint32_t kErrorPortNotResponding = 692;

std::int32_t Flag(std::uint32_t error) { return error ? 1 : 0; }

}  // namespace

bool BuildDialupEntry(std::int32_t type, bool useMppe, std::int32_t routeMode, const std::wstring& serverHost,
                      ras::Entry& entry) {
  if (type != 1 && type != 2) return false;
  entry = ras::Entry{};
  entry.size = sizeof(ras::Entry);
  entry.options = (type == 1 && useMppe) ? kPptpMppeOptions : kPlainOptions;
  if (routeMode == RouteModeDefaultGateway) entry.options |= kRemoteDefaultGatewayOption;
  entry.options2 = kEntryOptions2;
  ras::CopyText(entry.localPhoneNumber, serverHost);
  entry.netProtocols = kProtocolIp;
  entry.framingProtocol = kFramingPpp;
  ras::CopyText(entry.deviceType, kDialupDeviceType);
  ras::CopyText(entry.deviceName, kDialupEntryName);
  entry.entryType = kEntryTypeVpn;
  entry.encryptionType = kEncryptionOptional;
  entry.vpnStrategy = type == 1 ? kStrategyPptpOnly : kStrategyL2tpOnly;
  return true;
}

void BuildDialParams(const ras::Entry& entry, const std::wstring& user, const std::wstring& pass,
                     std::uintptr_t callbackId, ras::DialParams& params) {
  params = ras::DialParams{};
  params.size = sizeof(ras::DialParams);
  ras::CopyText(params.entryName, kDialupEntryName);
  ras::CopyText(params.phoneNumber, ras::ReadText(entry.localPhoneNumber));
  ras::CopyText(params.callbackNumber, L"*");
  ras::CopyText(params.userName, user);
  ras::CopyText(params.password, pass);
  params.callbackId = callbackId;
}

RasDecision DecideRasNotification(std::uint32_t rasState, std::uint32_t rasError, std::int32_t currentState) {
  const std::int32_t detail = static_cast<std::int32_t>(rasError);
  auto report = [&](std::int32_t state, std::int32_t error) {
    return RasDecision{RasAction::Report, state, error, detail};
  };
  switch (rasState) {
    case kRasStateDisconnected: return report(GENERAL_VPN_STATE_DISCONNECTED, Flag(rasError));
    case kRasStateConnectDevice: return report(GENERAL_VPN_STATE_CONNECT, Flag(rasError));
    case kRasStateAuthenticate: return report(GENERAL_VPN_STATE_AUTHENTICATE, Flag(rasError));
    case kRasStateAuthenticated: return report(GENERAL_VPN_STATE_AUTHENTICATED, Flag(rasError));
    case kRasStateConnected:
      if (rasError) return report(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_INTERNAL);
      return RasDecision{RasAction::ConnectedSequence, GENERAL_VPN_STATE_CONNECTED, 0, 0};
    default:
      if (rasError) return report(currentState, GENERAL_VPN_ERROR_INTERNAL);
      return RasDecision{};
  }
}

CWindowsVpn::CWindowsVpn(std::int32_t vpnType, IForwardTable& forwardTable, IRasApi& ras, IClock& clock,
                         std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer)
    : CGeneralVpn(forwardTable, std::move(routeRequestServer)), ras_(ras), clock_(clock) {
  SetType(vpnType);
}

CWindowsVpn::~CWindowsVpn() { ras_.ForgetSink(*this); }

std::int32_t CWindowsVpn::Start() {
  if (!rasConnection.load()) {
    if (RasHandle leftover = FindExistingConnection()) {
      ras_.HangUp(leftover);
      WaitForHangUp(leftover);
    }
    rasConnection = nullptr;
  }
  if (const std::int32_t rc = CGeneralVpn::Start()) return rc;

  ras::Entry entry;
  if (!BuildDialupEntry(GetType(), useMppe != 0, GetRouteMode(), GetServerHost(), entry)) return kWindowsVpnBadType;
  StoreState(GENERAL_VPN_STATE_PREPARE, 0, 0);

  if (const std::uint32_t e = ras_.SetEntryProperties(kDialupEntryName, entry)) {
    StoreState(GENERAL_VPN_STATE_PREPARE, WINDOWS_VPN_ERROR_CREATE, static_cast<std::int32_t>(e));
    return WINDOWS_VPN_ERROR_CREATE;
  }
  if (!preSharedKey.empty()) {
    ras::Credentials credentials{};
    credentials.size = sizeof credentials;
    credentials.mask = kPreSharedKeyMask;
    ras::CopyText(credentials.password, preSharedKey);
    ras_.SetCredentials(kDialupEntryName, credentials);
    credentials = ras::Credentials{};
  }

  ras::DialParams params;
  const auto callbackId = reinterpret_cast<std::uintptr_t>(static_cast<IRasDialSink*>(this));
  BuildDialParams(entry, GetUsername(), GetPassword(), callbackId, params);
  RasHandle handle = nullptr;
  const std::uint32_t e = ras_.Dial(params, *this, handle);
  params = ras::DialParams{};
  // A failed dial may still leave a handle; Stop hangs it up.
  rasConnection = handle;
  if (e) {
    StoreState(GENERAL_VPN_STATE_PREPARE, WINDOWS_VPN_ERROR_DIAL, static_cast<std::int32_t>(e));
    return WINDOWS_VPN_ERROR_DIAL;
  }
  return 0;
}

RasHandle CWindowsVpn::FindExistingConnection() {
  std::uint32_t bufferBytes = sizeof(ras::Connection);
  std::vector<RasConnection> connections;
  std::uint32_t rc = kRasErrorBufferTooSmall;
  for (int i = 0; i < kMaxEnumerations && rc == kRasErrorBufferTooSmall; ++i) {
    rc = ras_.EnumConnections(bufferBytes, connections);
  }
  if (rc != 0) return nullptr;
  RasHandle found = nullptr;
  for (const RasConnection& c : connections) {
    if (c.entryName == kDialupEntryName) found = c.handle;
  }
  return found;
}

void CWindowsVpn::WaitForHangUp(RasHandle connection) {
  const Tick began = clock_.Now();
  while (ras_.GetConnectStatus(connection) != kRasErrorInvalidHandle) {
    if (TickElapsed(clock_.Now(), began) >= kHangUpLimitMs) return;
    clock_.Sleep(kHangUpPollMs);
  }
}

void CWindowsVpn::OnRasNotification(RasHandle connection, std::uint32_t rasState, std::uint32_t rasError) {
  const RasDecision decision = DecideRasNotification(rasState, rasError, GetState());
  switch (decision.action) {
    case RasAction::Nothing: return;
    case RasAction::Report: SetState(decision.state, decision.error, decision.detail); return;
    case RasAction::ConnectedSequence:
      // Once Stop has begun the connection learns nothing more.
      if (IsStopping()) return;
      RunConnectedSequence(connection);
      return;
  }
}

void CWindowsVpn::RunConnectedSequence(RasHandle connection) {
  std::uint32_t reported = 0;
  std::wstring address;
  std::uint32_t e = ras_.GetPppIpProjection(connection, sizeof(ras::PppIp), reported, address);
  if (e == 0 || e == kRasErrorBufferTooSmall) {
    e = ras_.GetPppIpProjection(connection, reported ? reported : sizeof(ras::PppIp), reported, address);
  }
  if (e) {
    SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, static_cast<std::int32_t>(e));
    return;
  }
  SetLocalIp(address);
  const AdapterDnsResult dns = GetAdapterDns(ForwardTable(), kDialupEntryName);
  SetVpnDns(dns.dns1.c_str(), dns.dns2.c_str());
  SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
}

std::int32_t CWindowsVpn::Stop() {
  RestoreRoutes();
  if (RasHandle handle = rasConnection.exchange(nullptr)) {
    StoreState(GENERAL_VPN_STATE_DISCONNECT, 0, 0);
    ras_.HangUp(handle);
    WaitForHangUp(handle);
  }
  // Notifications of the hang-up went through SetState; anything later is
  // about a connection its owner may already have deleted.
  ras_.ForgetSink(*this);
  return CGeneralVpn::Stop();
}

std::int32_t CWindowsVpn::GetStatistics(std::uint32_t& sent, std::uint32_t& received) {
  ras::Statistics statistics{};
  statistics.size = sizeof statistics;
  // The notification thread owns the state: writing it back from here could
  // undo a change it made meanwhile (ALL_DONE back to CONNECTED, a drop's
  // error cleared). A failure is only noted when nothing else was.
  if (const std::uint32_t e = ras_.GetConnectionStatistics(rasConnection.load(), statistics)) {
    NoteErrorIfNone(GENERAL_VPN_ERROR_INTERNAL, static_cast<std::int32_t>(e));
    return 1;
  }
  sent = statistics.bytesSent;
  received = statistics.bytesReceived;
  return 0;
}

std::wstring CWindowsVpn::GetErrorDetailText(std::int32_t detail) {
  const std::uint32_t number = static_cast<std::uint32_t>(detail);
  std::wstring text = ras_.GetErrorString(number);
  if (number == kErrorPortNotAvailable || number == kErrorPortNotResponding) text += GetText("PleaseRebootSystem");
  return text;
}

std::wstring CWindowsVpn::GetErrorText(std::int32_t errorCode) {
  if (errorCode == WINDOWS_VPN_ERROR_CREATE) return GetText("WINDOWS_VPN_ERROR_CREATE");
  if (errorCode == WINDOWS_VPN_ERROR_DIAL) return GetText("WINDOWS_VPN_ERROR_DIAL");
  return CGeneralVpn::GetErrorText(errorCode);
}
