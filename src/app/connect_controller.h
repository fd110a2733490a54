// The main window's connect flow after the login: tries the VPN types in
// turn, follows the connection's posted reports, finishes the set-up on
// completion, watches the counters once a second and tears down on
// Disconnect, exit or a drop. It talks to its window through IConnectView
// and gets connections and system steps through ports, so the Windows
// dialog, the terminal client and tests drive the same code.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/login_controller.h"
#include "app/message_box.h"
#include "app/reconnect.h"
#include "platform/blocked_operation.h"
#include "platform/clock.h"
#include "platform/message_target.h"
#include "routing/firewall_policy.h"
#include "vpn/general_vpn.h"

constexpr std::uint32_t kVpnEventMessage = kWmUser + 2;
constexpr std::uint32_t kMonitorTimerId = 0;
constexpr std::uint32_t kMonitorPeriodMs = 1000;
constexpr std::uint32_t kParkedDeleteDelayMs = 1000;
constexpr std::uint32_t kTapInstallTimerMs = 5000;
constexpr int kTrayIconNotConnected = 132;
constexpr int kTrayIconConnectedQuiet = 135;

class IConnectView {
 public:
  virtual void SetStatusLine(const std::wstring& text) = 0;
  virtual void EnableConnect(bool enabled) = 0;
  virtual void EnableDisconnect(bool enabled) = 0;
  virtual void SetTrayIcon(int iconId) = 0;
  virtual void ShowBalloon(const std::wstring& text) = 0;
  virtual void ShowMainWindow(bool shown) = 0;
  // Modal; may run the window's messages while it is open.
  virtual bool AskYesNo(const std::wstring& text, BoxIcon icon, bool defaultNo) = 0;
  virtual void ShowBox(const std::wstring& text, BoxIcon icon) = 0;
  // Shows the accelerated application dialog docked beside the window.
  virtual void ShowAccelerateDialog() = 0;
  virtual void DestroyAccelerateDialog() = 0;
  // Releases the host probes and link buttons and destroys the window.
  virtual void DestroyWindow() = 0;
  virtual void RunBlocked(IOperation& operation, std::uint32_t timerMs) = 0;
  // Before a reconnect the server refused: the account service is asked
  // again and may hand out new values for `plan`. False when the login
  // failed; the attempt then counts as failed.
  virtual bool RenewLogin(ConnectPlan& plan) {
    (void)plan;
    return true;
  }

 protected:
  ~IConnectView() = default;
};

// Makes an unconfigured connection of a type (1 PPTP, 2 L2TP, 3 OpenVPN)
// set up from the server's values; null for a type it does not know.
class IConnectionFactory {
 public:
  virtual std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo& server) = 0;

 protected:
  ~IConnectionFactory() = default;
};

// The system steps around a connection and the settings it reads and writes.
class IConnectSystem {
 public:
  virtual void PrepareSystemForL2tp(const std::wstring& preSharedKey) = 0;
  virtual bool OpenVpnComponentPresent() = 0;
  // 1 when `required` is newer than the shipped program.
  virtual int CompareOpenVpnVersion(const std::wstring& required) = 0;
  virtual std::wstring ForceOpenVpnUpdateVersion() = 0;
  virtual bool IsTapAdapterReady() = 0;
  virtual std::unique_ptr<IOperation> InstallTapDriverOperation() = 0;
  // The update run with the installer flag, from the login reply's bytes;
  // the client exits after it.
  virtual void DownloadAndRunUpdate(const std::string& loginReply) = 0;
  virtual std::int32_t DebugConnectVpn() = 0;
  virtual VpnProxy Proxy() = 0;
  virtual void StoreLastSuccessVpnType(std::int32_t type) = 0;
  virtual void PutVpnBindingFirst() = 0;
  virtual void FlushDnsCache() = 0;
  // True when the adapter's DHCP made the connection unusable.
  virtual bool DisableDhcpOnVpnAdapter(const std::wstring& localIp) = 0;
  // False when the bind module is missing.
  virtual bool VpnBindStart(std::uint32_t flags, std::uint32_t localIpNetworkOrder) = 0;
  virtual void VpnBindStop() = 0;

 protected:
  ~IConnectSystem() = default;
};

// Leak protection as the flow sees it: told before a tunnel starts (the
// server it goes to), once it is up, when it drops and when the flow ends.
// Returns whether traffic stays blocked afterwards.
class ITunnelGuard {
 public:
  virtual bool GuardTunnel(FirewallPhase phase, const VpnServerInfo& server, CGeneralVpn* vpn) = 0;

 protected:
  ~ITunnelGuard() = default;
};

enum ConnectPhase : int {
  kPhaseIdle = 0,
  kPhaseConnecting = 1,
  kPhaseConnected = 2,
  kPhaseResetting = 3,
  // The tunnel dropped without the user asking; a new one is on its way.
  kPhaseReconnecting = 4,
};

class CConnectController {
 public:
  CConnectController(IMessageTarget& target, IConnectView& view, IConnectionFactory& factory,
                     IConnectSystem& system, IClock& clock);
  ~CConnectController();
  CConnectController(const CConnectController&) = delete;
  CConnectController& operator=(const CConnectController&) = delete;

  // The end of the login.
  void StartConnect(const ConnectPlan& plan);
  // Returns true when the message was the connect flow's.
  bool OnMessage(const PostedMessage& message);
  void OnMonitorTick();
  void OnDisconnect();
  void OnClose();
  void ExitClient();
  // While a login waits in a modal run the window must stay; an exit asked
  // meanwhile happens when the login says it is done.
  void SetLoginBusy(bool busy);
  // Off: a drop ends the connection as before.
  void SetReconnect(bool enabled) { reconnectEnabled_ = enabled; }
  // Null: no leak protection.
  void SetTunnelGuard(ITunnelGuard* guard) { guard_ = guard; }
  // A tunnel dropped and the block stayed: Disconnect lifts it.
  bool BlockedAfterDrop() const { return blockedAfterDrop_; }

  int Phase() const { return phase_; }
  CGeneralVpn* Connection() const { return current_ ? current_->vpn.get() : nullptr; }
  std::size_t ParkedCount() const { return parked_.size(); }
  bool ExitPending() const { return exitPending_; }
  bool Exited() const { return exited_; }
  const std::vector<std::wstring>& ErrorReports() const { return errorReports_; }
  // Reconnect attempts since the last drop; the server the current one uses.
  int ReconnectAttempts() const { return reconnect_.Attempts(); }
  const VpnServerInfo& Server() const { return plan_.server; }
  // The kind of tunnel a reconnect brings back.
  std::int32_t ReconnectType() const { return reconnectType_; }

 private:
  struct Relay;
  struct Slot {
    std::unique_ptr<Relay> relay;  // declared first: outlives the connection
    std::unique_ptr<CGeneralVpn> vpn;
    std::uint64_t serial = 0;
    bool completed = false;
    bool routesAsked = false;
    Tick stopTick = 0;
  };

  void ConnectNextType();
  // One type; false when the attempt ended here (reset or exit).
  enum class Step { Started, TryNext, Ended };
  Step StartType(std::int32_t type);
  void OnVpnEvent(std::uint64_t serial, std::intptr_t pointer);
  void OnCompletion();
  void AskFailedRoutes();
  void StatusFromConnection(CGeneralVpn& vpn);
  void ParkConnection();
  // `userStop`: the user ended it (Disconnect, exit), so no block stays.
  void ResetConnection(bool userStop = false);
  bool Guard(FirewallPhase phase, CGeneralVpn* vpn);
  std::wstring DroppedStatus() const;
  void DeleteAgedParked(bool waitForAll);
  bool IsCurrent(std::uint64_t serial) const { return current_ && current_->serial == serial; }
  // Whether a drop of the tunnel in `phase` is taken to reconnecting.
  bool TakeDrop();
  void FollowStep(const ReconnectStep& step);
  void StartReconnectAttempt();
  void ReconnectAttemptEnded();

  IMessageTarget& target_;
  IConnectView& view_;
  IConnectionFactory& factory_;
  IConnectSystem& system_;
  IClock& clock_;

  std::unique_ptr<Slot> current_;
  std::deque<std::unique_ptr<Slot>> parked_;
  std::uint64_t nextSerial_ = 1;
  std::uint64_t attempt_ = 0;  // changes whenever an attempt ends or begins

  ConnectPlan plan_;
  std::vector<std::wstring> errorReports_;
  int phase_ = kPhaseIdle;
  bool accelerateShown_ = false;
  bool loginBusy_ = false;
  bool exitPending_ = false;
  bool exited_ = false;
  std::uint32_t lastSent_ = 0;
  std::uint32_t lastReceived_ = 0;

  bool reconnectEnabled_ = false;
  CReconnectPlan reconnect_;
  std::vector<VpnServerInfo> reconnectOrder_;
  std::int32_t reconnectType_ = 0;  // the type that was up
  ReconnectStep step_;
  bool stepPending_ = false;
  Tick stepDue_ = 0;
  bool lastRefused_ = false;

  ITunnelGuard* guard_ = nullptr;
  bool tunnelWasUp_ = false;  // since the user's last connect
  bool replacing_ = false;    // a connect replaces the rules itself
  bool blockedAfterDrop_ = false;
};

// A reconnect's login asks no chooser: the route of `renewing` and the
// server it is about to try, as the fresh reply `fresh` describes it when
// that server still runs `vpnType` there.
ChooserResult RenewalChoice(const ConnectPlan& renewing, const VpnServerMap& fresh, std::int32_t vpnType);
// What a reconnect takes from its login's plan: the session's values, not
// the connection's (its route, types and alternates stay).
void TakeRenewedLogin(ConnectPlan& renewing, const ConnectPlan& login);

// The failed-routes question's list: at most 10 lines, then "..." when
// there were more.
std::wstring FailedRoutesList(const std::vector<std::wstring>& routes);
