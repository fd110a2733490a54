// The terminal client: the main window's two controllers with a terminal
// for their window. Status changes become lines on standard output, boxes
// lines on standard error, questions are answered No (nobody can be asked
// mid-run), and the run loop delivers the posted messages and timers a
// window would.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "account/protection_settings.h"
#include "app/app_routing.h"
#include "app/connect_controller.h"
#include "app/connect_system.h"
#include "app/leak_guard.h"
#include "app/login_controller.h"
#include "cli/cli_options.h"
#include "platform/message_target.h"
#include "servers/server_list.h"

// The message a signal is turned into (wParam the signal number).
constexpr std::uint32_t kCliSignalMessage = kWmApp + 77;


// The system steps only a window system has are nothing here.
class CLinuxConnectSystem : public CProductConnectSystem {
 public:
  using CProductConnectSystem::CProductConnectSystem;
  void PrepareSystemForL2tp(const std::wstring&) override {}
  void DownloadAndRunUpdate(const std::string& loginReply) override;
  void PutVpnBindingFirst() override {}
  bool DisableDhcpOnVpnAdapter(const std::wstring&) override { return false; }
};

// OpenVPN only: the dial-up kinds need the Windows dialler.
class CLinuxConnectionFactory : public IConnectionFactory {
 public:
  // `programFolder` holds openvpn/ (ca.crt, a shipped openvpn if any).
  CLinuxConnectionFactory(IForwardTable& table, std::wstring programFolder)
      : table_(table), programFolder_(std::move(programFolder)) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo& server) override;

 private:
  IForwardTable& table_;
  std::wstring programFolder_;
};

class CTerminalClient : public IMainView, public IConnectView {
 public:
  // `password` read already; `queue` receives the signal messages.
  CTerminalClient(CMessageQueue& queue, const CliOptions& options, std::wstring password);
  ~CTerminalClient();
  // Replays the journal, logs in, connects and runs until disconnected;
  // the exit code.
  int Run();
  // Logs in and lists the routes and the servers with measured speeds;
  // touches neither the routes nor the journal. The exit code.
  int Login();
  // Only the journal's replay; the exit code.
  int RestoreRoutes();

  // IMainView
  void SetStatusLine(const std::wstring& text) override;
  void EnableConnect(bool) override {}
  void EnableDisconnect(bool) override {}
  void SetExpiryText(const std::wstring& text) override;
  void SetPublicAddress(const std::wstring& text) override;
  void SetAnnouncement(int, const std::wstring&, const std::wstring&) override {}
  LoginForm ReadLoginForm() override;
  void FillLoginForm(const LoginForm&) override {}
  void StartTimer(std::uint32_t id, std::uint32_t delayMs) override;
  void StopTimer(std::uint32_t id) override { timers_.erase(id); }
  // Done before the journal's replay already (EndLeftover).
  void SignalLeftoverOpenVpnExit() override {}
  void EnsureDialupServices() override {}
  void RunDownload(CDownloadRun& run) override;
  std::optional<ChooserResult> RunChooser(const std::wstring& replyPath) override;
  void StartConnect(const ConnectPlan& plan) override;
  // IUpdateHost
  void ShowMessage(const std::wstring& text, BoxIcon icon) override { ShowBox(text, icon); }
  UpdateDownloadOutcome RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) override;
  UpdateStartResult StartUpdate(const std::wstring&, const std::wstring&) override { return {}; }
  void OpenUrl(const std::wstring& url) override;
  void ExitClient() override;

  // IConnectView (SetStatusLine above serves both)
  void SetTrayIcon(int) override {}
  void ShowBalloon(const std::wstring&) override {}
  void ShowMainWindow(bool) override {}
  bool AskYesNo(const std::wstring& text, BoxIcon icon, bool defaultNo) override;
  void ShowBox(const std::wstring& text, BoxIcon icon) override;
  void ShowAccelerateDialog() override;
  void DestroyAccelerateDialog() override {}
  void DestroyWindow() override { windowGone_ = true; }
  void RunBlocked(IOperation& operation, std::uint32_t timerMs) override;
  // The main controller's login once more, its chooser and connect step
  // answered from `plan` instead of connecting.
  bool RenewLogin(ConnectPlan& plan) override;

 private:
  using Clock = std::chrono::steady_clock;
  // One message or timer; returns once something was handled or `untilMs` passed.
  void PumpOnce(int capMs);
  void Dispatch(const PostedMessage& message);
  void FireDueTimers();
  void AfterEvent();
  void PrintChildOutput(CGeneralVpn& vpn);
  void PrintLine(const std::wstring& text);
  void OnSignal(int signal);
  // SIGUSR1: disconnect and stay, or log in and connect again.
  void ToggleConnection();
  bool OpenControllers(const std::wstring& dataFolder);
  // Waits for the login host race; false when no service answered.
  bool WaitForLoginHost();
  void MeasureSpeeds(VpnServerMap& servers);
  void ListOffers(const std::wstring& replyPath);
  // Journal first (its routes go while their device still exists), then
  // any openvpn a killed run left.
  bool ReplayJournal(std::wstring& dataFolder);
  void EndLeftover();
  // Leak protection for `phase`; the server is the connect controller's
  // unless given.
  void GuardTraffic(FirewallPhase phase, const VpnServerInfo* server);
  void GuardPhase();
  std::wstring ProgramFolder() const;
  // The remembered choices with the command line's on top; remembered anew
  // when the command line gave one.
  void ResolveProtection();

  CMessageQueue& queue_;
  CliOptions options_;
  std::wstring password_;
  std::unique_ptr<CAppRouting> routing_;
  std::unique_ptr<CLinuxConnectSystem> system_;
  std::unique_ptr<CLinuxConnectionFactory> factory_;
  std::unique_ptr<IModuleVersion> version_;
  std::unique_ptr<CMainController> main_;
  std::unique_ptr<CConnectController> connect_;
  std::unique_ptr<CLeakGuard> guard_;
  std::map<std::uint32_t, Clock::time_point> timers_;
  Clock::time_point nextMonitor_;
  Clock::time_point connectStarted_;
  CDownloadRun* download_ = nullptr;  // the modal login transfer, while it runs
  std::wstring lastStatus_;
  int lastPhase_ = kPhaseIdle;
  bool connectStarted = false;
  bool wasConnected_ = false;
  bool windowGone_ = false;
  bool stopRequested_ = false;
  bool idleOnRequest_ = false;  // disconnected by SIGUSR1, waiting for the next
  bool listed_ = false;
  int exitCode_ = kCliExitOk;
  std::uint32_t lastSent_ = 0, lastReceived_ = 0;
  ProtectionSettings protection_;
  VpnServerMap alternates_;          // the chooser's OpenVPN servers, measured when asked
  ConnectPlan* renewing_ = nullptr;  // the plan a reconnect's login refreshes
  bool renewed_ = false;
  bool reconnecting_ = false;
  Clock::time_point dropNoticed_;
};
