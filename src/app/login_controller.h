// The main window's algorithm from opening to the connect step: the
// opening sequence, Connect's wait for the host race, the login with its
// HTTPS retry, the version check, the reply's verdict, the chooser, the
// route command and the order of VPN types to try. It talks to its window
// through IMainView (the Windows dialog, the terminal client, a test
// fake) and is driven by the window's posted messages and timers.
#pragma once
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account/account_service.h"
#include "account/login_host_probe.h"
#include "app/download_run.h"
#include "app/message_box.h"
#include "app/online_update.h"
#include "servers/policy_chooser.h"
#include "servers/server_list.h"

constexpr std::uint32_t kConnectWaitTimerId = 3;
constexpr std::uint32_t kConnectWaitMs = 6000;

struct LoginForm {
  std::wstring account;
  std::wstring password;
  bool savePassword = true;
};

struct ChooserResult {
  VpnRouteChoice route;
  std::int32_t vpnType = 0;  // 0 automatic, 1 to 3
  VpnServerInfo server;
};

// Everything the connect flow needs from a finished login.
struct ConnectPlan {
  VpnServerInfo server;
  std::int32_t routeMode = 0;  // 1 all traffic, 2 listed routes, 3 per application
  std::int32_t routeDefiner = 0;
  std::int32_t routeIndex = 0;
  std::vector<std::wstring> routeLines;
  std::vector<std::int32_t> vpnTypes;
  std::wstring account;
  std::wstring password;
  // From the login reply, which is deleted when the login returns: a type
  // tried after an earlier one failed, and the update it may ask for, still
  // need them.
  std::wstring requiredOpenVpnVersion;
  std::string loginReply;
  // The other servers a dropped tunnel may move to, with their measured
  // speeds.
  VpnServerMap alternates;
};

class IMainView : public IUpdateHost {
 public:
  virtual void SetStatusLine(const std::wstring& text) = 0;
  virtual void EnableConnect(bool enabled) = 0;
  virtual void EnableDisconnect(bool enabled) = 0;
  virtual void SetExpiryText(const std::wstring& text) = 0;
  virtual void SetPublicAddress(const std::wstring& text) = 0;
  virtual void SetAnnouncement(int slot, const std::wstring& text, const std::wstring& link) = 0;
  virtual LoginForm ReadLoginForm() = 0;
  virtual void FillLoginForm(const LoginForm& form) = 0;
  // One-shot timers: on expiry the view calls OnTimer(id) once.
  virtual void StartTimer(std::uint32_t id, std::uint32_t delayMs) = 0;
  virtual void StopTimer(std::uint32_t id) = 0;
  // Tells an openvpn left over from an earlier run to end.
  virtual void SignalLeftoverOpenVpnExit() = 0;
  // Makes sure the dial-up services run.
  virtual void EnsureDialupServices() = 0;
  // The modal progress dialog: returns once the run is no longer Running.
  virtual void RunDownload(CDownloadRun& run) = 0;
  virtual std::optional<ChooserResult> RunChooser(const std::wstring& replyPath) = 0;
  // The connect step: the chosen server and the types to try, in order.
  virtual void StartConnect(const ConnectPlan& plan) = 0;

 protected:
  ~IMainView() = default;
};

struct MainControllerPlaces {
  UpdatePlaces update;
  std::wstring programDataFolder;  // with its trailing separator
  std::wstring announcementsPath;
};

// The VPN types to try, in order. `protocols` is the server's text,
// `lastSuccess` the LastSuccessVpnType setting, `vpnTypeSetting` VpnType.
std::vector<std::int32_t> OrderVpnTypes(std::int32_t chosenType, const std::wstring& protocols,
                                        std::int32_t lastSuccess, std::int32_t vpnTypeSetting);
// 1 all traffic for definer 1, 3 for 2; listed routes ask the section.
std::int32_t RouteModeFor(std::int32_t routeDefiner, std::int32_t modifyDefaultGateway);

class CMainController : public ILoginHostProbeOwner {
 public:
  CMainController(IMessageTarget* target, IMainView& view, IModuleVersion& version, MainControllerPlaces places,
                  MachineIdentities identities, CurlPlusLimits limits = CurlPlusLimits(),
                  int* hostListPosition = &ProcessLoginHostListPosition());
  // Identities still being computed: a login waits for them.
  CMainController(IMessageTarget* target, IMainView& view, IModuleVersion& version, MainControllerPlaces places,
                  std::shared_future<MachineIdentities> identities, CurlPlusLimits limits = CurlPlusLimits(),
                  int* hostListPosition = &ProcessLoginHostListPosition());
  ~CMainController() override;

  // The dialog's initialisation.
  void Open();
  // Connect (and Enter).
  void OnConnect();
  // Messages posted to the main window that are not the window's own.
  // Returns true when it was one of ours.
  bool OnMessage(const PostedMessage& message);
  void OnTimer(std::uint32_t id);
  // The connect flow reports whether a VPN connection exists.
  void SetConnectionPresent(bool present) { connectionPresent_ = present; }
  void SetStatus(const std::wstring& text, bool alsoBox);

  const std::wstring& LoginBaseUrl() const;
  const std::wstring& WebSiteUrl() const { return webSiteUrl_; }
  bool WaitingForHost() const { return waitingForHost_; }
  const ConnectPlan& LastPlan() const { return plan_; }
  // Time source of the login's "t" field (seconds since 1970).
  void SetClock(std::int64_t (*now)()) { now_ = now; }

  // ILoginHostProbeOwner
  void RequestProbeTimer(std::uint32_t timerId, std::uint32_t delayMs) override;
  void OnLoginHostWon(const std::wstring& announcementsPath) override;

 private:
  void ContinueConnect();
  void Login();
  // Runs one login attempt into the reply file; the run's outcome.
  bool LoginAttempt(const std::wstring& base, const LoginForm& form, const LoginSecrets& secrets,
                    const std::wstring& replyPath, std::int64_t time, bool& cancelled, bool& fileFailed,
                    bool& certificateRefused);
  void LoginFailed(bool certificateRefused);
  void LoginAfterReply(const LoginForm& form, const LoginSecrets& secrets, const std::wstring& replyPath);
  void ShowAnnouncements(bool fresh);
  void SaveCredentials(const LoginForm& form);

  IMessageTarget* target_;
  IMainView& view_;
  IModuleVersion& version_;
  MainControllerPlaces places_;
  std::shared_future<MachineIdentities> identities_;
  CurlPlusLimits limits_;
  std::unique_ptr<CLoginHostProbe> probe_;
  std::wstring overridePath_;
  std::wstring webSiteUrl_;
  bool waitingForHost_ = false;
  bool connectionPresent_ = false;
  bool updating_ = false;
  ConnectPlan plan_;
  std::int64_t (*now_)() = nullptr;
};
