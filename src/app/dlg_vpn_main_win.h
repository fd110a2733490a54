// The client's main window: the login form, the announcement links, the web
// buttons, the status line and the tray icon. The login's algorithm is
// CMainController's; this class is its Windows view and hands it the
// window's posted messages and timers.
#pragma once
#include "platform/win32.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "account/account_service.h"
#include "app/connect_controller.h"
#include "app/exit_gate.h"
#include "app/login_controller.h"
#include "app/module_version.h"
#include "app/tray_notify_icon_win.h"
#include "platform/message_target.h"
#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

// The chooser dialog, run modally over the login reply.
using ChooserFunction = std::function<std::optional<ChooserResult>(HWND owner, const std::wstring& replyPath)>;
// The property that marks the main window among the other "Quillnet" dialogs
// (progress, update and message boxes share the title).
inline constexpr wchar_t kMainWindowProperty[] = L"QuillnetMainWindow";
// A running client's main window, or null.
HWND FindMainWindowOfOtherInstance();

// Control ids a test driver addresses.
constexpr int kIdAccountEdit = 1001;
constexpr int kIdPasswordEdit = 1002;
constexpr int kIdConnect = 1003;
constexpr int kIdDisconnect = 1004;
constexpr int kIdSavePassword = 1008;
constexpr int kIdStatusLine = 1010;
constexpr int kIdExpiry = 1011;
constexpr int kIdPublicAddress = 1013;
constexpr int kIdFirstAnnouncement = 1036;
constexpr int kIdForgotPassword = 1040;
// The protection choices under the status line.
constexpr int kIdLeakProtection = 1050;
constexpr int kIdAllowLocalNetwork = 1051;
constexpr int kIdReconnect = 1052;

// The five web buttons along the bottom: text key, left edge, id, skin picture set.
struct WebButtonLayout {
  const char* key;
  int left, id;
  const wchar_t* prefix;
};
inline constexpr WebButtonLayout kWebButtons[5] = {{"UserRegister", 15, 1005, L"ButtonReg"},
                                                   {"Purchase", 75, 1006, L"ButtonPurchase"},
                                                   {"FreeTrial", 135, 1007, L"ButtonFreeTrial"},
                                                   {"GuideHelp", 195, 1009, L"ButtonHelp"},
                                                   {"OnlineCustomerSupport", 255, 1012, L"ButtonSupport"}};
inline RECT WebButtonRect(const WebButtonLayout& button) { return RECT{button.left, 410, button.left + 55, 459}; }

// Transfer events of the login's commands reach the main window under this
// number: WM_USER+1 is the tray icon's.
constexpr UINT kTransferRelayMessage = WM_APP + 2;

struct MainWindowContext {
  MainControllerPlaces places;
  // May still be computing when the window opens; a login waits for them.
  std::shared_future<MachineIdentities> identities;
  ChooserFunction chooser;  // empty: the login ends as cancelled
  // The journaled route table every connection changes; not owned. Null:
  // nothing can be connected.
  IForwardTable* routes = nullptr;
  // Tests' stand-ins; null or empty: the system's dial-up and OpenVPN
  // connections, the system's message boxes (captioned "Quillnet").
  IConnectionFactory* factory = nullptr;
  std::function<int(HWND owner, const std::wstring& text, UINT type)> messageBox;
};

class CDlgDownload;
class CDlgAccelerateForApp;
class CFlowLeakGuard;
class CWindowsConnectSystem;
class CSystemConnectionFactory;
class IRasApi;

class CDlgVpnMain : public CDialog, public IMainView, public IConnectView {
 public:
  static constexpr int kWidth = 327;
  static constexpr int kHeight = 464;

  explicit CDlgVpnMain(MainWindowContext context);
  ~CDlgVpnMain() override;

  void ShowMainWindow();
  // Yes to the chooser's upgrade question: the full set-up's update, then exit.
  void StartFullUpdateAndExit(const std::wstring& replyPath);
  // The connect flow's update, from the reply bytes the login kept.
  void RunUpdateFromReply(const std::string& loginReply);
  void HideToTray();
  // The connect step's input, once a login got that far.
  CTrayNotifyIcon& TrayIcon() { return tray_; }
  CConnectController* ConnectFlow() const { return flow_.get(); }
  HWND AccelerateDialog() const;

  // IMainView
  void SetStatusLine(const std::wstring& text) override;
  void EnableConnect(bool enabled) override;
  void EnableDisconnect(bool enabled) override;
  void SetExpiryText(const std::wstring& text) override;
  void SetPublicAddress(const std::wstring& text) override;
  void SetAnnouncement(int slot, const std::wstring& text, const std::wstring& link) override;
  LoginForm ReadLoginForm() override;
  void FillLoginForm(const LoginForm& form) override;
  void StartTimer(std::uint32_t id, std::uint32_t delayMs) override;
  void StopTimer(std::uint32_t id) override;
  void SignalLeftoverOpenVpnExit() override;
  void EnsureDialupServices() override;
  void RunDownload(CDownloadRun& run) override;
  std::optional<ChooserResult> RunChooser(const std::wstring& replyPath) override;
  void StartConnect(const ConnectPlan& plan) override;
  // IUpdateHost
  void ShowMessage(const std::wstring& text, BoxIcon icon) override;
  UpdateDownloadOutcome RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) override;
  UpdateStartResult StartUpdate(const std::wstring& path, const std::wstring& arguments) override;
  void OpenUrl(const std::wstring& url) override;
  void ExitClient() override;
  // IConnectView (status and buttons above serve both)
  void SetTrayIcon(int iconId) override;
  void ShowBalloon(const std::wstring& text) override;
  void ShowMainWindow(bool shown) override;
  bool AskYesNo(const std::wstring& text, BoxIcon icon, bool defaultNo) override;
  void ShowBox(const std::wstring& text, BoxIcon icon) override;
  void ShowAccelerateDialog() override;
  void DestroyAccelerateDialog() override;
  void DestroyWindow() override;
  void RunBlocked(IOperation& operation, std::uint32_t timerMs) override;
  // Before a reconnect the server refused: the login again, without the chooser.
  bool RenewLogin(ConnectPlan& plan) override;

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id, int code, HWND control) override;
  void OnOK() override;
  void OnCancel() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void CreateControls();
  void ShowAbout();
  void CreateConnectFlow();
  void PlaceAccelerateDialog();
  // The login's modal runs: an exit asked meanwhile waits for them.
  void Login();
  // Ends the modal loops the flows are in once the window is to go; a
  // blocked operation runs to its end.
  void EndNestedLoops();
  // The three boxes into the settings and the connect flow.
  void KeepProtectionChoices();

  MainWindowContext context_;
  std::unique_ptr<IMessageTarget> target_;
  std::unique_ptr<CMainController> controller_;
  CModuleVersion version_;
  CSkinWindow skinWindow_;
  std::array<CSkinButton, 4> links_;
  CSkinStatic yourIpLabel_, publicAddress_, expiryLabel_, expiry_, accountLabel_, passwordLabel_, status_;
  CSkinEdit account_, password_;
  CSkinCheckBox savePassword_;
  CSkinCheckBox leakProtection_, allowLocalNetwork_, reconnect_;
  CSkinButton forgotPassword_, connect_, disconnect_;
  std::array<CSkinButton, 5> webButtons_;
  CTrayNotifyIcon tray_;
  // The icon the state asks for; the tray gets it once its icon is added.
  int trayIcon_ = kIconNotConnected;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  CDlgDownload* activeDownload_ = nullptr;
  // Every nested loop below goes through it: the window is destroyed only
  // when none runs.
  CExitGate exitGate_;
  std::unique_ptr<IRasApi> ras_;
  std::unique_ptr<CSystemConnectionFactory> factory_;
  std::unique_ptr<CWindowsConnectSystem> system_;
  // Outlives the flow, which holds it.
  std::unique_ptr<CFlowLeakGuard> leakGuard_;
  std::unique_ptr<CConnectController> flow_;
  std::unique_ptr<CDlgAccelerateForApp> accelerate_;
  std::wstring replyPath_;
  bool exiting_ = false;
  // While a reconnect logs in again: the plan its values go into.
  ConnectPlan* renewing_ = nullptr;
  bool renewed_ = false;
};
