#include "app/connect_controller.h"

#include <cstring>

#include "app/chrome.h"
#include "text/text_table.h"
#include "platform/text_parse.h"

// Posts each report with the serial of the connection it belongs to, so a
// later connection at the same address never takes an earlier one's post.
struct CConnectController::Relay : CGeneralVpnCallbackInterface {
  Relay(IMessageTarget& target, std::uint64_t serial) : target(target), serial(serial) {}
  void OnVpnStateChanged(CGeneralVpn* vpn) override {
    target.Post(kVpnEventMessage, static_cast<std::uintptr_t>(serial), reinterpret_cast<std::intptr_t>(vpn));
  }
  IMessageTarget& target;
  std::uint64_t serial;
};

std::wstring FailedRoutesList(const std::vector<std::wstring>& routes) {
  constexpr std::size_t kShown = 10;
  std::wstring list;
  for (std::size_t i = 0; i < routes.size() && i < kShown; ++i) {
    if (i) list += L"\r\n";
    list += routes[i];
  }
  if (routes.size() > kShown) list += L"\r\n...";
  return list;
}

ChooserResult RenewalChoice(const ConnectPlan& renewing, const VpnServerMap& fresh, std::int32_t vpnType) {
  ChooserResult same;
  same.route = {renewing.routeDefiner, renewing.routeIndex};
  same.vpnType = vpnType;
  same.server = renewing.server;
  if (auto it = fresh.find(renewing.server.id); it != fresh.end() && OffersVpnType(it->second, vpnType))
    same.server = it->second;
  return same;
}

void TakeRenewedLogin(ConnectPlan& renewing, const ConnectPlan& login) {
  renewing.account = login.account;
  renewing.password = login.password;
  renewing.requiredOpenVpnVersion = login.requiredOpenVpnVersion;
  renewing.loginReply = login.loginReply;
  renewing.server = login.server;
}

CConnectController::CConnectController(IMessageTarget& target, IConnectView& view, IConnectionFactory& factory,
                                       IConnectSystem& system, IClock& clock)
    : target_(target), view_(view), factory_(factory), system_(system), clock_(clock) {}

CConnectController::~CConnectController() {
  if (current_) ParkConnection();
  DeleteAgedParked(true);
}

void CConnectController::StartConnect(const ConnectPlan& plan) {
  if (exitPending_ || exited_) return;
  if (current_ || phase_ == kPhaseReconnecting) {
    // The connect's own rules replace the old ones: nothing slips out between.
    replacing_ = true;
    ResetConnection();
    replacing_ = false;
  }
  tunnelWasUp_ = false;
  blockedAfterDrop_ = false;
  plan_ = plan;
  errorReports_.clear();
  ++attempt_;
  phase_ = kPhaseConnecting;
  view_.EnableConnect(false);
  view_.EnableDisconnect(true);
  ConnectNextType();
}

void CConnectController::ConnectNextType() {
  for (;;) {
    if (current_) {
      CGeneralVpn& vpn = *current_->vpn;
      errorReports_.push_back(vpn.GetTypeName() + L": " + vpn.GetReport());
    }
    if (plan_.vpnTypes.empty()) {
      if (current_) StatusFromConnection(*current_->vpn);
      ResetConnection();
      std::wstring text;
      for (const std::wstring& report : errorReports_) text += report + L"\r\n\r\n";
      view_.ShowBox(text, BoxIcon::Error);
      return;
    }
    ParkConnection();
    const std::int32_t type = plan_.vpnTypes.front();
    plan_.vpnTypes.erase(plan_.vpnTypes.begin());
    if (StartType(type) != Step::TryNext) return;
  }
}

CConnectController::Step CConnectController::StartType(std::int32_t type) {
  const std::uint64_t attempt = attempt_;
  std::unique_ptr<CGeneralVpn> vpn;
  if (type >= 1 && type <= 3) vpn = factory_.Create(type, plan_.server);
  if (!vpn) {
    view_.ShowBox(L"Unknown VPN Type", BoxIcon::Error);
    if (attempt == attempt_) ResetConnection();
    return Step::Ended;
  }
  // Every question below is modal: the user may have pressed Disconnect or
  // exited meanwhile, and then this attempt is over.
  std::wstring account = plan_.account;
  // A reconnect asks nothing: the user is not waiting at the window, and
  // what the first connect settled still holds.
  const bool quiet = phase_ == kPhaseReconnecting;
  if (!quiet && system_.DebugConnectVpn() != 0) {
    if (!view_.AskYesNo(vpn->GetTypeName() + L"?", BoxIcon::Question, false)) account = L"bad_username";
    if (attempt != attempt_) return Step::Ended;
  }
  if (type == 2) {
    system_.PrepareSystemForL2tp(plan_.server.ipsecSharedKey);
    if (attempt != attempt_) return Step::Ended;
  }
  if (type == 3 && !quiet) {
    if (!system_.OpenVpnComponentPresent() || system_.CompareOpenVpnVersion(plan_.requiredOpenVpnVersion) == 1 ||
        system_.CompareOpenVpnVersion(system_.ForceOpenVpnUpdateVersion()) == 1) {
      const bool update =
          view_.AskYesNo(GetText("VpnAppWithoutOpenVPNOrTooOldPleaseDownloadOrUpgrade"), BoxIcon::Question, false);
      if (attempt != attempt_) return Step::Ended;
      if (update) {
        system_.DownloadAndRunUpdate(plan_.loginReply);
        ExitClient();
        return Step::Ended;
      }
    }
    if (!system_.IsTapAdapterReady()) {
      view_.ShowBox(GetText("InstallOpenVPNTapTip"), BoxIcon::Information);
      if (attempt != attempt_) return Step::Ended;
      if (std::unique_ptr<IOperation> install = system_.InstallTapDriverOperation()) {
        view_.RunBlocked(*install, kTapInstallTimerMs);
      }
      if (attempt != attempt_) return Step::Ended;
      if (!system_.IsTapAdapterReady()) {
        view_.ShowBox(GetText("CannotInstallOpenVPN"), BoxIcon::Error);
        if (attempt != attempt_) return Step::Ended;
      }
    }
  }
  auto slot = std::make_unique<Slot>();
  slot->serial = nextSerial_++;
  slot->relay = std::make_unique<Relay>(target_, slot->serial);
  vpn->SetCallback(slot->relay.get());
  vpn->SetRouteMode(plan_.routeMode);
  vpn->SetRoutes(plan_.routeLines);
  vpn->SetServerHost(plan_.server.host);
  vpn->SetCredentials(account, plan_.password);
  const VpnProxy proxy = system_.Proxy();
  vpn->SetProxy(proxy.type, proxy.server.c_str(), proxy.port, proxy.username.c_str(), proxy.password.c_str());
  slot->vpn = std::move(vpn);
  current_ = std::move(slot);
  // The block goes in before the tunnel starts: nothing slips out meanwhile.
  Guard(phase_ == kPhaseReconnecting ? FirewallPhase::Reconnecting : FirewallPhase::Connecting, current_->vpn.get());
  return current_->vpn->Start() != 0 ? Step::TryNext : Step::Started;
}

bool CConnectController::OnMessage(const PostedMessage& message) {
  if (message.message != kVpnEventMessage) return false;
  OnVpnEvent(static_cast<std::uint64_t>(message.wParam), message.lParam);
  return true;
}

void CConnectController::OnVpnEvent(std::uint64_t serial, std::intptr_t pointer) {
  if (!IsCurrent(serial) || reinterpret_cast<std::intptr_t>(current_->vpn.get()) != pointer) return;
  CGeneralVpn& vpn = *current_->vpn;
  const VpnStatus status = vpn.GetStatus();
  if (status.state == GENERAL_VPN_STATE_MODIFY_ROUTE && status.error == GENERAL_VPN_ERROR_MODIFY_ROUTE) {
    if (!current_->routesAsked) AskFailedRoutes();
    return;
  }
  // While reconnecting the line keeps saying so until the tunnel is back.
  if (phase_ != kPhaseReconnecting || status.state == GENERAL_VPN_STATE_ALL_DONE) StatusFromConnection(vpn);
  if (status.error != GENERAL_VPN_ERROR_SUCCESS) {
    if (phase_ == kPhaseConnecting) {
      ConnectNextType();
    } else if (phase_ == kPhaseReconnecting) {
      ReconnectAttemptEnded();
    } else if (!TakeDrop()) {
      ResetConnection();
    }
    return;
  }
  if (status.state == GENERAL_VPN_STATE_ALL_DONE) {
    // Several queued posts may all read the finished state; the set-up
    // happens once per connection.
    if (!current_->completed) OnCompletion();
    return;
  }
  if (status.state == GENERAL_VPN_STATE_DISCONNECTED) {
    // A tunnel that ends before it is up (openvpn exiting on a bad
    // certificate, a dial-up service hanging up) reports no error; left
    // alone the window would say "Connecting ..." for ever.
    if (phase_ == kPhaseConnecting)
      ConnectNextType();
    else if (phase_ == kPhaseReconnecting)
      ReconnectAttemptEnded();
    else if (phase_ == kPhaseConnected && !TakeDrop())
      ResetConnection();
  }
}

void CConnectController::AskFailedRoutes() {
  const std::uint64_t serial = current_->serial;
  current_->routesAsked = true;
  const std::wstring text =
      GetText("CannotModifyFollowingRoutesContinueYesOrNot") + FailedRoutesList(current_->vpn->GetFailedRoutes());
  const bool keep = view_.AskYesNo(text, BoxIcon::Question, false);
  // The connection may have dropped or been replaced while the box was open.
  if (!IsCurrent(serial)) return;
  if (keep) {
    view_.SetStatusLine(GetText("LoginWithCannotModifyAllRoutes"));
    phase_ = kPhaseConnected;
  } else {
    view_.SetStatusLine(GetText("CannotModifyRoutes"));
    ResetConnection();
  }
}

void CConnectController::OnCompletion() {
  const std::uint64_t serial = current_->serial;
  current_->completed = true;
  CGeneralVpn& vpn = *current_->vpn;
  // Back after a drop: the window stays as the user left it.
  const bool reconnected = phase_ == kPhaseReconnecting;
  reconnect_.OnConnected(clock_.Now());
  reconnectType_ = vpn.GetType();
  view_.SetTrayIcon(kTrayIconConnectedQuiet);
  if (!reconnected) view_.ShowBalloon(GetText("LoginOKClickToOpenMainWindow"));
  phase_ = kPhaseConnected;
  tunnelWasUp_ = true;
  Guard(FirewallPhase::Connected, &vpn);
  system_.StoreLastSuccessVpnType(vpn.GetType());
  system_.PutVpnBindingFirst();
  system_.FlushDnsCache();
  const std::wstring localIp = vpn.GetLocalIp();
  const std::int32_t type = vpn.GetType();
  if (plan_.routeDefiner == 2) {
    std::uint32_t address = 0;
    const bool parsed = ParseIpv4Strict(localIp, address);
    if (!parsed || !system_.VpnBindStart(8, address)) {
      view_.ShowBox(GetText("VpnBindIsBroken"), BoxIcon::Error);
      if (!IsCurrent(serial)) return;
    }
    if (!accelerateShown_) {
      view_.ShowAccelerateDialog();
      accelerateShown_ = true;
    }
  } else if (!reconnected) {
    view_.ShowMainWindow(false);
  }
  // The DHCP warning is modal too.
  if (type != 3 && IsCurrent(serial) && system_.DisableDhcpOnVpnAdapter(localIp) && IsCurrent(serial)) {
    ResetConnection();
  }
}

void CConnectController::StatusFromConnection(CGeneralVpn& vpn) {
  const VpnStatus status = vpn.GetStatus();
  if (status.error == GENERAL_VPN_ERROR_SUCCESS) {
    view_.SetStatusLine(vpn.GetStateText(status.state));
    return;
  }
  std::wstring text = vpn.GetErrorDetailText(status.detail);
  if (text.empty()) text = vpn.GetErrorText(status.error);
  view_.SetStatusLine(text);
}

void CConnectController::OnMonitorTick() {
  DeleteAgedParked(false);
  if (phase_ == kPhaseReconnecting && stepPending_ && !current_ &&
      static_cast<std::int32_t>(clock_.Now() - stepDue_) >= 0) {
    StartReconnectAttempt();
    return;
  }
  if (!current_) return;
  CGeneralVpn& vpn = *current_->vpn;
  std::uint32_t sent = 0, received = 0;
  const std::int32_t result = vpn.GetStatistics(sent, received);
  if (result != 0 && phase_ == kPhaseReconnecting) {
    ReconnectAttemptEnded();
  } else if (result != 0 && !TakeDrop()) {
    const bool wasConnected = phase_ == kPhaseConnected;
    view_.ShowMainWindow(true);
    const VpnStatus status = vpn.GetStatus();
    const std::wstring text = GetText("VpnErrorMessage") + L":" + vpn.GetErrorText(status.error) + L"\r\n" +
                              GetText("VpnErrorDetail") + L":" + vpn.GetErrorDetailText(status.detail) + L"\r\n";
    ResetConnection();
    view_.SetStatusLine(DroppedStatus());
    if (wasConnected) view_.ShowBox(text, BoxIcon::Error);
  } else if (phase_ == kPhaseConnected) {
    view_.SetTrayIcon(TrayIconForTraffic(lastSent_, lastReceived_, sent, received));
  }
  lastSent_ = sent;
  lastReceived_ = received;
}

void CConnectController::ParkConnection() {
  if (!current_) return;
  DeleteAgedParked(false);
  current_->vpn->Stop();
  current_->vpn->SetCallback(nullptr);
  current_->stopTick = clock_.Now();
  parked_.push_back(std::move(current_));
}

void CConnectController::DeleteAgedParked(bool waitForAll) {
  while (!parked_.empty()) {
    const std::uint32_t age = TickElapsed(clock_.Now(), parked_.front()->stopTick);
    if (age < kParkedDeleteDelayMs) {
      if (!waitForAll) return;
      clock_.Sleep(kParkedDeleteDelayMs - age);
      continue;
    }
    parked_.pop_front();
  }
}

void CConnectController::ResetConnection(bool userStop) {
  phase_ = kPhaseResetting;
  ++attempt_;
  reconnect_.Stop();
  stepPending_ = false;
  if (plan_.routeDefiner == 2) {
    plan_.routeDefiner = 0;
    plan_.routeIndex = 0;
    system_.VpnBindStop();
    if (accelerateShown_) {
      view_.DestroyAccelerateDialog();
      accelerateShown_ = false;
    }
  }
  ParkConnection();
  if (!replacing_) {
    // A tunnel that was up and went without the user asking stays blocked
    // (fail closed); one that never came up had nothing to protect.
    const bool dropped = tunnelWasUp_ && !userStop;
    if (userStop) tunnelWasUp_ = false;
    blockedAfterDrop_ = Guard(dropped ? FirewallPhase::Dropped : FirewallPhase::UserDisconnected, nullptr) && dropped;
  }
  view_.EnableConnect(true);
  // While blocked Disconnect stays: it is how the user lifts the block.
  view_.EnableDisconnect(blockedAfterDrop_);
  view_.SetTrayIcon(kTrayIconNotConnected);
  phase_ = kPhaseIdle;
}

bool CConnectController::Guard(FirewallPhase phase, CGeneralVpn* vpn) {
  return guard_ && guard_->GuardTunnel(phase, plan_.server, vpn);
}

std::wstring CConnectController::DroppedStatus() const {
  return GetText(blockedAfterDrop_ ? "DisconnectedTrafficBlocked" : "DisconnectedUnexcepted");
}

void CConnectController::OnDisconnect() {
  ResetConnection(true);
  view_.SetStatusLine(GetText("AlreadyDisconnected"));
}

void CConnectController::OnClose() {
  if (current_ || phase_ == kPhaseReconnecting) {
    const bool leave = view_.AskYesNo(GetText("VpnConnectedAreYouSureToExit"), BoxIcon::Question, true);
    if (!leave) return;
  }
  ExitClient();
}

void CConnectController::ExitClient() {
  if (exited_) return;
  if (loginBusy_) {
    exitPending_ = true;
    return;
  }
  exitPending_ = false;
  exited_ = true;
  ResetConnection(true);
  if (accelerateShown_) {
    view_.DestroyAccelerateDialog();
    accelerateShown_ = false;
  }
  view_.DestroyWindow();
}

void CConnectController::SetLoginBusy(bool busy) {
  loginBusy_ = busy;
  if (!busy && exitPending_) ExitClient();
}

bool CConnectController::TakeDrop() {
  if (!reconnectEnabled_ || phase_ != kPhaseConnected || !current_ || exitPending_ || exited_) return false;
  reconnectType_ = current_->vpn->GetType();
  // The bind module learns the new tunnel's address when it is up again;
  // the dialog stays, the user still wants per-application routing.
  if (plan_.routeDefiner == 2) system_.VpnBindStop();
  ParkConnection();
  phase_ = kPhaseReconnecting;
  Guard(FirewallPhase::Dropped, nullptr);
  // The dropped server, then only those that run the kind of tunnel that was up.
  reconnectOrder_.clear();
  for (const VpnServerInfo& server : OrderReconnectServers(plan_.server, plan_.alternates))
    if (reconnectOrder_.empty() || OffersVpnType(server, reconnectType_)) reconnectOrder_.push_back(server);
  view_.SetTrayIcon(kTrayIconNotConnected);
  view_.SetStatusLine(GetText("Reconnecting"));
  view_.ShowBalloon(GetText("Reconnecting"));
  FollowStep(reconnect_.OnDrop(reconnectOrder_.size(), clock_.Now()));
  return true;
}

void CConnectController::FollowStep(const ReconnectStep& step) {
  if (step.giveUp) {
    ResetConnection();
    view_.ShowMainWindow(true);
    view_.SetStatusLine(DroppedStatus());
    return;
  }
  step_ = step;
  stepPending_ = true;
  stepDue_ = clock_.Now() + step.pauseMs;
  if (step.pauseMs == 0) StartReconnectAttempt();
}

void CConnectController::StartReconnectAttempt() {
  stepPending_ = false;
  const ReconnectStep step = step_;
  plan_.server = reconnectOrder_.at(step.serverIndex);
  if (step.loginFirst) {
    const std::uint64_t attempt = attempt_;
    const bool renewed = view_.RenewLogin(plan_);
    // The login is modal: the user may have stopped meanwhile.
    if (attempt != attempt_ || phase_ != kPhaseReconnecting) return;
    if (!renewed) {
      FollowStep(reconnect_.OnAttemptEnded(ReconnectOutcome::Failed));
      return;
    }
  }
  std::wstring text = GetText("Reconnecting");
  if (step.attempt > 0) text += L" (" + std::to_wstring(step.attempt + 1) + L")";
  view_.SetStatusLine(text);
  if (StartType(reconnectType_) == Step::TryNext) ReconnectAttemptEnded();
}

void CConnectController::ReconnectAttemptEnded() {
  bool refused = false;
  if (current_) {
    const VpnStatus status = current_->vpn->GetStatus();
    refused = status.state == GENERAL_VPN_STATE_AUTHENTICATE && status.error != GENERAL_VPN_ERROR_SUCCESS;
    ParkConnection();
  }
  FollowStep(reconnect_.OnAttemptEnded(refused ? ReconnectOutcome::Refused : ReconnectOutcome::Failed));
}
