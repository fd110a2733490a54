#include "app/dlg_vpn_main_win.h"

#include "account/protection_settings.h"
#include "app/chrome.h"
#include "app/connect_factory.h"
#include "app/connect_system_win.h"
#include "app/dlg_blocked_operation_win.h"
#include "app/dlg_download_win.h"
#include "app/leak_guard_win.h"
#include "app/shell_launch.h"
#include "dialogs/dlg_accelerate_for_app_win.h"
#include "platform/file_io.h"
#include "platform/clock.h"
#include "resource.h"
#include "text/text_table.h"
#include "vpn/l2tp_system.h"
#include "vpn/ras_api.h"

#include <vector>

namespace {

constexpr UINT_PTR kWatchTimerId = 0;
constexpr UINT kExitClientMessage = WM_APP + 4;
constexpr UINT kAddTrayIconMessage = WM_APP + 5;
constexpr wchar_t kOpenVpnExitEvent[] = L"OPENVPN_EXIT_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

// Workers post to the main window; transfer events get a number of their own
// there, since WM_USER+1 on this window is the tray icon's.
class CMainWindowTarget : public IMessageTarget {
 public:
  explicit CMainWindowTarget(HWND window) : window_(window) {}
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    const UINT posted = message == CDownloadRun::kMessage ? kTransferRelayMessage : message;
    return ::PostMessageW(window_, posted, wParam, lParam) != FALSE;
  }

 private:
  HWND window_;
};

struct LoopWindows {
  HWND keep[2];
  std::vector<HWND> found;
};

// The thread's modal dialogs and message boxes: the loops the flows run. A
// blocked operation's dialog is left to end with its worker.
BOOL CALLBACK CollectLoopDialog(HWND window, LPARAM list) {
  auto* windows = reinterpret_cast<LoopWindows*>(list);
  wchar_t cls[16] = {};
  ::GetClassNameW(window, cls, 16);
  if (std::wstring(cls) != L"#32770") return TRUE;
  for (HWND keep : windows->keep)
    if (keep && window == keep) return TRUE;
  if (dynamic_cast<CDlgBlockedOperation*>(CWnd::FromHandle(window))) return TRUE;
  windows->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK FindMarkedDialog(HWND window, LPARAM found) {
  wchar_t cls[16] = {};
  ::GetClassNameW(window, cls, 16);
  if (std::wstring(cls) != L"#32770" || !::GetPropW(window, kMainWindowProperty)) return TRUE;
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == ::GetCurrentProcessId()) return TRUE;
  wchar_t title[32] = {};
  ::GetWindowTextW(window, title, 32);
  if (std::wstring(title) != L"Quillnet") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

HWND FindMainWindowOfOtherInstance() {
  HWND found = nullptr;
  ::EnumWindows(&FindMarkedDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

CDlgVpnMain::CDlgVpnMain(MainWindowContext context)
    : context_(std::move(context)),
      exitGate_({[this] { EndNestedLoops(); },
                 [this] {
                   if (Handle()) ::PostMessageW(Handle(), kExitClientMessage, 0, 0);
                 }}) {}

CDlgVpnMain::~CDlgVpnMain() {
  // The flow's last connection is deleted here, after its time to end; the
  // window may have gone while a question of the flow was still open.
  flow_.reset();
  accelerate_.reset();
  controller_.reset();
  if (bigIcon_) ::DestroyIcon(bigIcon_);
  if (smallIcon_) ::DestroyIcon(smallIcon_);
}

bool CDlgVpnMain::OnInitDialog() {
  SetText(L"Quillnet");
  SetSize(kWidth, kHeight);
  ModifyStyle(WS_MAXIMIZEBOX, WS_MINIMIZEBOX);
  ::SetPropW(Handle(), kMainWindowProperty, reinterpret_cast<HANDLE>(1));
  CSkinAttributes::IntRef(skinWindow_.attributes, L"MaximizeBox") = 0;
  CSkinAttributes::SetString(skinWindow_.attributes, L"CustomBackground", L"DlgVpnMain,0,0");
  CSkinAttributes::SetString(skinWindow_.attributes, L"Title", L"");
  skinWindow_.Attach(Handle());
  CreateControls();

  HINSTANCE module = ::GetModuleHandleW(nullptr);
  bigIcon_ = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconWindow), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconWindow), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
  ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  // Added from the message loop, after the window is first shown: talking
  // to the shell took 15-55 ms of the start under Wine.
  ::PostMessageW(Handle(), kAddTrayIconMessage, 0, 0);
  // The connect flow watches its connection on this tick.
  SetTimer(kWatchTimerId, kMonitorPeriodMs);

  target_ = std::make_unique<CMainWindowTarget>(Handle());
  CreateConnectFlow();
  controller_ = std::make_unique<CMainController>(target_.get(), *this, version_, context_.places, context_.identities);
  controller_->Open();
  ::SetFocus(account_.Handle());
  return false;  // focus set here
}

void CDlgVpnMain::CreateConnectFlow() {
  const std::wstring moduleFolder = context_.places.update.moduleFolder;
  replyPath_ = context_.places.programDataFolder + L"Quillnet.ini";
  system_ = std::make_unique<CWindowsConnectSystem>(
      context_.places.update.overridePath, moduleFolder, *this,
      [this](const std::string& loginReply) { RunUpdateFromReply(loginReply); });
  IConnectionFactory* factory = context_.factory;
  if (!factory && context_.routes) {
    ras_ = CreateSystemRasApi();
    factory_ = std::make_unique<CSystemConnectionFactory>(*context_.routes, *ras_, SystemClock(),
                                                          moduleFolder + L"openvpn\\");
    factory = factory_.get();
  }
  if (factory) flow_ = std::make_unique<CConnectController>(*target_, *this, *factory, *system_, SystemClock());
  if (!flow_) return;
  const ProtectionSettings protection = ReadProtectionSettings();
  flow_->SetReconnect(protection.reconnect);
  leakGuard_ = CreateSystemLeakGuard([this] { return controller_ ? controller_->LoginBaseUrl() : std::wstring(); });
  leakGuard_->SetChoices(protection.leakProtection, protection.allowLocalNetwork);
  flow_->SetTunnelGuard(leakGuard_.get());
}

void CDlgVpnMain::KeepProtectionChoices() {
  ProtectionSettings settings;
  settings.leakProtection = leakProtection_.GetCheck() == BST_CHECKED;
  settings.allowLocalNetwork = allowLocalNetwork_.GetCheck() == BST_CHECKED;
  settings.reconnect = reconnect_.GetCheck() == BST_CHECKED;
  WriteProtectionSettings(settings);
  // A drop from now on follows the new choice.
  if (flow_) flow_->SetReconnect(settings.reconnect);
  if (!leakGuard_) return;
  leakGuard_->SetChoices(settings.leakProtection, settings.allowLocalNetwork);
  // A tunnel that is up gets the new rules now; one on its way gets them
  // with its next step.
  if (flow_ && flow_->Phase() == kPhaseConnected && flow_->Connection())
    leakGuard_->GuardTunnel(FirewallPhase::Connected, flow_->Server(), flow_->Connection());
}

void CDlgVpnMain::CreateControls() {
  HWND w = Handle();
  for (int k = 0; k < 4; ++k) {
    CreateSkinButton(links_[static_cast<std::size_t>(k)], L"", MakeRect(30, 124 + 19 * k, 310, 142 + 19 * k), w,
                     kIdFirstAnnouncement + k, L"LinkButton");
  }
  CreateSkinStatic(yourIpLabel_, GetText("YourIP") + L":", MakeRect(40, 210, 95, 228), w);
  CreateSkinStatic(publicAddress_, GetText("UnknownClientIP"), MakeRect(95, 210, 190, 228), w, kIdPublicAddress);
  publicAddress_.OwnInt(L"TextColor") = 5375;
  CreateSkinStatic(expiryLabel_, GetText("ExpiredDate") + L":", MakeRect(200, 210, 240, 228), w);
  CreateSkinStatic(expiry_, GetText("ExpiredDateUnknown"), MakeRect(240, 210, 310, 228), w, kIdExpiry);
  CreateSkinStatic(accountLabel_, GetText("Username"), MakeRect(32, 250, 87, 268), w);
  accountLabel_.SetOwnString(L"Align", L"Right");
  CreateSkinStatic(passwordLabel_, GetText("Password"), MakeRect(32, 280, 87, 298), w);
  passwordLabel_.SetOwnString(L"Align", L"Right");
  CreateSkinEdit(account_, MakeRect(114, 250, 260, 264), w, kIdAccountEdit);
  CreateSkinEdit(password_, MakeRect(114, 282, 260, 296), w, kIdPasswordEdit, ES_PASSWORD);
  ::SendMessageW(password_.Handle(), EM_SETPASSWORDCHAR, L'*', 0);
  for (HWND edit : {account_.Handle(), password_.Handle()}) {
    ::SendMessageW(edit, EM_LIMITTEXT, 16, 0);
    // The boxes are only 14 px high: a little air on the left keeps the
    // first letter off the border.
    ::SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(3, 2));
  }
  CreateSkinCheckBox(savePassword_, GetText("SavePassword"), MakeRect(94, 310, 194, 325), w, kIdSavePassword);
  CreateSkinButton(forgotPassword_, GetText("ForgotPassword"), MakeRect(200, 310, 290, 325), w, kIdForgotPassword,
                   L"LinkButton");
  CreateSkinButton(connect_, GetText("Connect"), MakeRect(40, 333, 160, 360), w, kIdConnect);
  connect_.SetOwnString(L"Icon", L"IconConnect");
  connect_.ModifyStyle(0, BS_DEFPUSHBUTTON | WS_TABSTOP);
  CreateSkinButton(disconnect_, GetText("Disconnect"), MakeRect(170, 333, 290, 360), w, kIdDisconnect);
  disconnect_.SetOwnString(L"Icon", L"IconDisconnect");
  CreateSkinStatic(status_, L"", MakeRect(72, 364, 305, 378), w, kIdStatusLine);
  const ProtectionSettings protection = ReadProtectionSettings();
  const struct {
    CSkinCheckBox& box;
    const char* key;
    int left, right, id;
    bool on;
  } choices[] = {{leakProtection_, "LeakProtection", 20, 108, kIdLeakProtection, protection.leakProtection},
                 {allowLocalNetwork_, "AllowLocalNetwork", 119, 207, kIdAllowLocalNetwork, protection.allowLocalNetwork},
                 {reconnect_, "ReconnectAutomatically", 218, 306, kIdReconnect, protection.reconnect}};
  // One row under the status line, centred, clear of the background's line
  // over the web buttons (y 401).
  for (const auto& choice : choices) {
    CreateSkinCheckBox(choice.box, GetText(choice.key), MakeRect(choice.left, 382, choice.right, 397), w, choice.id);
    choice.box.SetCheck(choice.on ? BST_CHECKED : BST_UNCHECKED);
  }
  for (std::size_t i = 0; i < webButtons_.size(); ++i) {
    const WebButtonLayout& web = kWebButtons[i];
    CreateSkinButton(webButtons_[i], GetText(web.key), WebButtonRect(web), w, web.id, web.prefix);
    webButtons_[i].SetOwnString(L"VAlign", L"Bottom");
  }
}

// --- IMainView --------------------------------------------------------------

void CDlgVpnMain::SetStatusLine(const std::wstring& text) {
  if (!Handle()) return;
  status_.SetText(text);
  status_.Invalidate(true);
}

void CDlgVpnMain::EnableConnect(bool enabled) { connect_.Enable(enabled); }
void CDlgVpnMain::EnableDisconnect(bool enabled) { disconnect_.Enable(enabled); }

void CDlgVpnMain::SetExpiryText(const std::wstring& text) {
  expiry_.SetText(text);
  expiry_.Invalidate(true);
}

void CDlgVpnMain::SetPublicAddress(const std::wstring& text) {
  publicAddress_.SetText(text);
  publicAddress_.Invalidate(true);
}

void CDlgVpnMain::SetAnnouncement(int slot, const std::wstring& text, const std::wstring& link) {
  if (slot < 0 || slot >= static_cast<int>(links_.size())) return;
  CSkinButton& button = links_[static_cast<std::size_t>(slot)];
  button.SetOwnString(L"Link", link);
  button.SetText(text);
  button.Invalidate(true);
}

LoginForm CDlgVpnMain::ReadLoginForm() {
  LoginForm form;
  form.account = account_.Text();
  form.password = password_.Text();
  form.savePassword = savePassword_.GetCheck() == BST_CHECKED;
  return form;
}

void CDlgVpnMain::FillLoginForm(const LoginForm& form) {
  account_.SetText(form.account);
  password_.SetText(form.password);
  savePassword_.SetCheck(form.savePassword ? BST_CHECKED : BST_UNCHECKED);
  savePassword_.Invalidate(true);
}

void CDlgVpnMain::StartTimer(std::uint32_t id, std::uint32_t delayMs) { SetTimer(id, delayMs); }
void CDlgVpnMain::StopTimer(std::uint32_t id) { KillTimer(id); }

void CDlgVpnMain::SignalLeftoverOpenVpnExit() {
  if (HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, kOpenVpnExitEvent)) {
    ::SetEvent(event);
    ::CloseHandle(event);
  }
}

void CDlgVpnMain::EnsureDialupServices() {
  CSystemL2tp system;
  ::EnsureDialupServices(system.Get());
}

void CDlgVpnMain::Login() {
  if (!controller_) return;
  // A connection in place (Enter in an edit while connected) is not replaced.
  controller_->SetConnectionPresent(flow_ && flow_->Phase() != kPhaseIdle);
  if (flow_) flow_->SetLoginBusy(true);
  controller_->OnConnect();
  // May exit now, if the tray's Exit was chosen during the login's runs.
  if (flow_) flow_->SetLoginBusy(false);
}

void CDlgVpnMain::EndNestedLoops() {
  LoopWindows windows{{Handle(), AccelerateDialog()}, {}};
  ::EnumThreadWindows(::GetCurrentThreadId(), &CollectLoopDialog, reinterpret_cast<LPARAM>(&windows));
  // Each loop ends when control comes back to it; the code after it sees a cancel.
  for (HWND dialog : windows.found) ::EndDialog(dialog, IDCANCEL);
}

void CDlgVpnMain::RunDownload(CDownloadRun& run) {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered()) {
    if (run.GetState() == CDownloadRun::State::Running) run.CancelByUser();
    return;
  }
  CDlgDownload dialog(run);
  CDlgDownload* outer = activeDownload_;
  activeDownload_ = &dialog;
  dialog.DoModal(Handle());
  activeDownload_ = outer;
  // A dialog that could not be made never ran its transfers to an end.
  if (run.GetState() == CDownloadRun::State::Running) run.CancelByUser();
}

void CDlgVpnMain::RunUpdateFromReply(const std::string& loginReply) {
  // The login deleted its reply when it returned; the update reads it.
  const bool restored = !FileExists(replyPath_) && !loginReply.empty() && AtomicWriteFile(replyPath_, loginReply);
  DownloadAndRunUpdate(*this, context_.places.update, replyPath_, true);
  if (restored) RemoveFile(replyPath_);
}

void CDlgVpnMain::StartFullUpdateAndExit(const std::wstring& replyPath) {
  DownloadAndRunUpdate(*this, context_.places.update, replyPath, true);
  ExitClient();
}

std::optional<ChooserResult> CDlgVpnMain::RunChooser(const std::wstring& replyPath) {
  if (renewing_ && flow_) return RenewalChoice(*renewing_, LoadServerList(replyPath), flow_->ReconnectType());
  CExitGate::CLoop loop(exitGate_);
  if (!context_.chooser || !loop.Entered()) return std::nullopt;
  return context_.chooser(Handle(), replyPath);
}

void CDlgVpnMain::StartConnect(const ConnectPlan& plan) {
  if (!flow_) {
    ShowBox(GetText("RouteTableNotAvailable"), BoxIcon::Error);
    EnableConnect(true);
    EnableDisconnect(false);
    return;
  }
  if (renewing_) {
    // A reconnect's login: its values, no new connection.
    TakeRenewedLogin(*renewing_, plan);
    renewed_ = true;
    return;
  }
  // The reply is still there: the connect step is the login's last.
  ConnectPlan withAlternates = plan;
  for (const auto& [id, server] : LoadServerList(replyPath_))
    if (id >= 0) withAlternates.alternates.emplace(id, server);
  flow_->StartConnect(withAlternates);
}

void CDlgVpnMain::ShowMessage(const std::wstring& text, BoxIcon icon) { ShowBox(text, icon); }

UpdateDownloadOutcome CDlgVpnMain::RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered()) return {false, true};
  CDlgOnlineUpdate dialog(url, localPath);
  const INT_PTR result = dialog.DoModal(Handle());
  return {result == IDOK, dialog.CancelledByUser(), dialog.Failure()};
}

UpdateStartResult CDlgVpnMain::StartUpdate(const std::wstring& path, const std::wstring& arguments) {
  CModuleVersion own;
  if (!own.LoadVersion(nullptr)) return {};
  return StartVerifiedProgram(path, arguments, own.FileVersion());
}

void CDlgVpnMain::OpenUrl(const std::wstring& url) {
  // Nothing opens in the browser after the user chose to leave.
  if (exitGate_.Leaving()) return;
  CShellUrlLauncher launcher(Handle());
  ::OpenUrl(launcher, url);
}

void CDlgVpnMain::ExitClient() {
  exitGate_.RequestExit();
  if (flow_) {
    flow_->ExitClient();  // ends with DestroyWindow, once no login waits
  } else {
    DestroyWindow();
  }
}

// --- IConnectView -----------------------------------------------------------

void CDlgVpnMain::SetTrayIcon(int iconId) {
  trayIcon_ = iconId;
  tray_.SetTrayIcon(iconId);
}
void CDlgVpnMain::ShowBalloon(const std::wstring& text) { tray_.ShowBalloon(text); }

void CDlgVpnMain::ShowMainWindow(bool shown) {
  if (shown) {
    ShowMainWindow();
  } else {
    HideToTray();
  }
}


bool CDlgVpnMain::AskYesNo(const std::wstring& text, BoxIcon icon, bool defaultNo) {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered()) return false;
  if (context_.messageBox) {
    const UINT type = MB_YESNO | BoxIconFlags(icon) | (defaultNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
    return context_.messageBox(Handle(), text, type) == IDYES;
  }
  return AskClientYesNo(Handle(), text, icon, defaultNo);
}

void CDlgVpnMain::ShowBox(const std::wstring& text, BoxIcon icon) {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered()) return;
  if (context_.messageBox) {
    context_.messageBox(Handle(), text, MB_OK | BoxIconFlags(icon));
    return;
  }
  ShowClientMessage(Handle(), text, icon);
}

void CDlgVpnMain::ShowAccelerateDialog() {
  if (accelerate_) return;
  accelerate_ = std::make_unique<CDlgAccelerateForApp>(AccelerateDialogInputs{});
  if (!accelerate_->Create(Handle())) {
    accelerate_.reset();
    return;
  }
  accelerate_->Show(true);
  PlaceAccelerateDialog();
}

HWND CDlgVpnMain::AccelerateDialog() const { return accelerate_ ? accelerate_->Handle() : nullptr; }

void CDlgVpnMain::DestroyAccelerateDialog() {
  if (!accelerate_) return;
  accelerate_->Destroy();
  accelerate_.reset();
}

void CDlgVpnMain::DestroyWindow() {
  // Called from inside the flows: the window goes once they have returned.
  if (exiting_ || !Handle()) return;
  exiting_ = true;
  ::PostMessageW(Handle(), kExitClientMessage, 0, 0);
}

bool CDlgVpnMain::RenewLogin(ConnectPlan& plan) {
  if (!controller_ || !flow_ || renewing_ || exitGate_.Leaving()) return false;
  renewing_ = &plan;
  renewed_ = false;
  // The login runs as the Connect button's would, over the tunnel's block
  // (the account service is let through) and with the saved credentials.
  controller_->SetConnectionPresent(false);
  flow_->SetLoginBusy(true);
  controller_->OnConnect();
  renewing_ = nullptr;
  if (controller_) controller_->SetConnectionPresent(true);
  // The login's own button states are a connect's; the flow is still
  // reconnecting, and Disconnect is how the user stops it.
  EnableConnect(false);
  EnableDisconnect(true);
  // May exit now, if Exit was chosen during the login's runs; the flow then
  // sees its attempt is over.
  flow_->SetLoginBusy(false);
  return renewed_;
}

void CDlgVpnMain::RunBlocked(IOperation& operation, std::uint32_t timerMs) {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered()) return;
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  dialog.timerPeriodMs = timerMs;
  dialog.DoModal(Handle());
}

void CDlgVpnMain::PlaceAccelerateDialog() {
  if (!accelerate_ || !accelerate_->Handle()) return;
  RECT main{}, dialog{};
  ::GetWindowRect(Handle(), &main);
  ::GetWindowRect(accelerate_->Handle(), &dialog);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& m = monitor.rcMonitor;
  const DockPlacement place = ::PlaceAccelerateDialog({m.left, m.top, m.right, m.bottom},
                                                      {main.left, main.top, main.right, main.bottom},
                                                      {dialog.left, dialog.top, dialog.right, dialog.bottom});
  ::SetWindowPos(Handle(), nullptr, place.mainLeft, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(accelerate_->Handle(), nullptr, place.dialogLeft, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- window -----------------------------------------------------------------

void CDlgVpnMain::ShowMainWindow() {
  ::ShowWindow(Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(Handle());
  ::BringWindowToTop(Handle());
  if (accelerate_) {
    accelerate_->Show(true);
    PlaceAccelerateDialog();
  }
}

void CDlgVpnMain::HideToTray() {
  if (accelerate_) accelerate_->Show(false);
  ::ShowWindow(Handle(), SW_HIDE);
  ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

void CDlgVpnMain::ShowAbout() {
  CExitGate::CLoop loop(exitGate_);
  if (!loop.Entered() || !controller_) return;
  ShowClientMessage(Handle(), AboutText(version_, controller_->WebSiteUrl()), BoxIcon::Information);
}

void CDlgVpnMain::OnOK() { Login(); }

// Close box, Escape and the system menu's Close: asks first while connected.
void CDlgVpnMain::OnCancel() {
  if (flow_) {
    flow_->OnClose();
  } else {
    ExitClient();
  }
}

void CDlgVpnMain::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED && code != 0) return;
  const std::wstring webSite = controller_ ? controller_->WebSiteUrl() : std::wstring();
  switch (id) {
    case kIdConnect:
      OnOK();
      return;
    case kIdDisconnect:
      if (flow_) flow_->OnDisconnect();
      return;
    case ID_TRAY_SHOW:
      ShowMainWindow();
      return;
    case ID_TRAY_HOMEPAGE:
      OpenUrl(AddChannelTag(webSite));
      return;
    case ID_TRAY_PURCHASE:
      OpenUrl(WebButtonUrl(1006, webSite));
      return;
    case ID_TRAY_ABOUT:
      ShowAbout();
      return;
    case ID_TRAY_EXIT:
      ExitClient();
      return;
    case kIdLeakProtection:
    case kIdAllowLocalNetwork:
    case kIdReconnect:
      KeepProtectionChoices();
      return;
  }
  if (id >= kIdFirstAnnouncement && id < kIdFirstAnnouncement + 4) {
    const std::wstring link = links_[static_cast<std::size_t>(id - kIdFirstAnnouncement)].String(L"Link", L"", L"");
    if (!link.empty()) OpenUrl(link);
    return;
  }
  const std::wstring url = WebButtonUrl(id, webSite);
  if (!url.empty()) {
    OpenUrl(url);
    return;
  }
  CDialog::OnCommand(id, code, control);
}

void CDlgVpnMain::OnTimer(UINT_PTR id) {
  if (id == kWatchTimerId) {
    if (flow_) flow_->OnMonitorTick();
    return;
  }
  // The controller's timers fire once.
  KillTimer(id);
  if (controller_) controller_->OnTimer(static_cast<std::uint32_t>(id));
}

void CDlgVpnMain::OnDestroy() {
  KillTimer(kWatchTimerId);
  tray_.RemoveTrayIcon();
  ::RemovePropW(Handle(), kMainWindowProperty);
  controller_.reset();
  ::PostQuitMessage(0);
}

bool CDlgVpnMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  bool showMainWindow = false;
  if (tray_.Filter(message, wParam, lParam, showMainWindow)) return true;
  if (showMainWindow) {
    ShowMainWindow();
    return true;
  }
  switch (message) {
    case kShowMainWindowMessage:
      ShowMainWindow();
      return true;
    case kTransferRelayMessage:
      // Events of a run that has ended are late; the run ignores them too.
      if (activeDownload_) activeDownload_->OnTransferEvent(wParam, lParam);
      return true;
    case kAddTrayIconMessage:
      if (!tray_.Added()) tray_.AddTrayIcon(Handle(), trayIcon_);
      return true;
    case kExitClientMessage:
      // Posted, so no flow of ours is below this call unless a nested loop
      // delivered it; then the window goes once that loop has returned.
      if (exitGate_.DestroyRequested()) Destroy();
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        HideToTray();
        return true;
      }
      return false;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) HideToTray();
      return false;
    case WM_MOVE:
      // The accelerate dialog follows the window being dragged.
      if (accelerate_ && accelerate_->Handle() && ::IsWindowVisible(accelerate_->Handle())) {
        RECT main{};
        ::GetWindowRect(Handle(), &main);
        const DockPlacement place = FollowMainWindow({main.left, main.top, main.right, main.bottom});
        ::SetWindowPos(accelerate_->Handle(), nullptr, place.dialogLeft, place.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return false;
  }
  if (message < WM_USER || message >= 0xC000) return false;
  const PostedMessage posted{message, wParam, lParam};
  if (flow_ && flow_->OnMessage(posted)) return true;
  if (controller_) return controller_->OnMessage(posted);
  return false;
}
