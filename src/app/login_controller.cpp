#include "app/login_controller.h"

#include <algorithm>
#include <ctime>

#include "account/operator_hosts.h"
#include "account/reply_document.h"
#include "account/settings.h"
#include "account/trust_anchors.h"
#include "app/chrome.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "platform/text_parse.h"
#include "text/text_table.h"

namespace {

constexpr wchar_t kMain[] = L"Main";
constexpr wchar_t kVpn[] = L"VPN";

std::int64_t SystemSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The login reply exists only while the login reads it.
class CDeleteOnExit {
 public:
  explicit CDeleteOnExit(std::wstring path) : path_(std::move(path)) {}
  ~CDeleteOnExit() { RemoveFile(path_); }
  CDeleteOnExit(const CDeleteOnExit&) = delete;
  CDeleteOnExit& operator=(const CDeleteOnExit&) = delete;

 private:
  std::wstring path_;
};

}  // namespace

std::vector<std::int32_t> OrderVpnTypes(std::int32_t chosenType, const std::wstring& protocols,
                                        std::int32_t lastSuccess, std::int32_t vpnTypeSetting) {
  if (chosenType >= kVpnTypePptp && chosenType <= kVpnTypeOpenVpn) return {chosenType};
  std::vector<std::int32_t> types;
  if (protocols.find(L"pptp") != std::wstring::npos) types.push_back(kVpnTypePptp);
  if (protocols.find(L"l2tp") != std::wstring::npos) types.push_back(kVpnTypeL2tp);
  if (protocols.find(L"openvpn") != std::wstring::npos) types.push_back(kVpnTypeOpenVpn);
  std::int32_t preferred = lastSuccess;
  if (vpnTypeSetting == kVpnTypeAuto && preferred == kVpnTypeOpenVpn) preferred = kVpnTypePptp;
  const auto at = std::find(types.begin(), types.end(), preferred);
  if (at != types.end()) std::rotate(types.begin(), at, at + 1);
  return types;
}

std::int32_t RouteModeFor(std::int32_t routeDefiner, std::int32_t modifyDefaultGateway) {
  if (routeDefiner == kRouteDefinerAll) return 1;
  if (routeDefiner == kRouteDefinerPerApp) return 3;
  return modifyDefaultGateway != 0 ? 1 : 2;
}

namespace {

std::shared_future<MachineIdentities> Ready(MachineIdentities identities) {
  std::promise<MachineIdentities> known;
  known.set_value(std::move(identities));
  return known.get_future().share();
}

}  // namespace

CMainController::CMainController(IMessageTarget* target, IMainView& view, IModuleVersion& version,
                                 MainControllerPlaces places, MachineIdentities identities, CurlPlusLimits limits,
                                 int* hostListPosition)
    : CMainController(target, view, version, std::move(places), Ready(std::move(identities)), limits,
                      hostListPosition) {}

CMainController::CMainController(IMessageTarget* target, IMainView& view, IModuleVersion& version,
                                 MainControllerPlaces places, std::shared_future<MachineIdentities> identities,
                                 CurlPlusLimits limits, int* hostListPosition)
    : target_(target),
      view_(view),
      version_(version),
      places_(std::move(places)),
      identities_(std::move(identities)),
      limits_(limits),
      now_(&SystemSeconds) {
  LoginHostProbeSettings settings;
  settings.overrideFilePath = places_.update.overridePath;
  settings.announcementsPath = places_.announcementsPath;
  settings.limits = limits_;
  probe_ = std::make_unique<CLoginHostProbe>(target_, this, settings, hostListPosition);
}

CMainController::~CMainController() = default;

const std::wstring& CMainController::LoginBaseUrl() const {
  static const std::wstring none;
  return probe_->HasWinner() ? probe_->LoginBaseUrl() : none;
}

void CMainController::SetStatus(const std::wstring& text, bool alsoBox) {
  view_.SetStatusLine(text);
  if (alsoBox) view_.ShowMessage(text, BoxIcon::None);
}

void CMainController::Open() {
  webSiteUrl_ = kBuiltInWebSiteUrl;
  overridePath_ = places_.update.overridePath;
  // Before the first transfer: the host race may already meet the
  // operator's own HTTPS hosts.
  LoadOperatorCaFile(overridePath_);
  view_.SetAnnouncement(0, GetText("LoadingNews"), webSiteUrl_);
  view_.EnableConnect(true);
  view_.EnableDisconnect(false);
  view_.SignalLeftoverOpenVpnExit();
  SetStatus(GetText("Ready") + GetText("ParenthesisVersion"), false);

  LoginForm form;
  form.account = GetSettingString(kMain, L"Username", L"");
  if (auto bytes = GetSettingBinary(kMain, L"Password"))
    if (auto password = UnprotectPassword(*bytes)) form.password = *password;
  form.savePassword = GetSettingInt(kMain, L"SavePassword", 1) != 0;
  view_.FillLoginForm(form);

  ShowAnnouncements(false);
  probe_->StartLoginHostProbe();
}

void CMainController::ShowAnnouncements(bool fresh) {
  const std::wstring& path = places_.announcementsPath;
  if (fresh) {
    const int check = CheckClientVersion(view_, version_, places_.update, path, webSiteUrl_);
    if (check == kVersionCheckUpdating) {
      updating_ = true;
      RemoveFile(path);
      return;
    }
    if (check == kVersionCheckUnreadable) {
      SetStatus(GetText("NetworkOrServerErrorToLogin"), true);
      return;
    }
    view_.SetPublicAddress(ReadClientIp(path));
  }
  const AnnouncementSlots slots = ReadAnnouncements(path);
  for (int i = 0; i < 4; ++i)
    view_.SetAnnouncement(i, slots[static_cast<std::size_t>(i)].text, slots[static_cast<std::size_t>(i)].link);
}

void CMainController::RequestProbeTimer(std::uint32_t timerId, std::uint32_t delayMs) {
  view_.StartTimer(timerId, delayMs);
}

void CMainController::OnLoginHostWon(const std::wstring&) {
  if (!probe_->WebSiteUrl().empty()) webSiteUrl_ = probe_->WebSiteUrl();
  ShowAnnouncements(true);
  if (!waitingForHost_) return;
  waitingForHost_ = false;
  view_.StopTimer(kConnectWaitTimerId);
  if (updating_) return;
  ContinueConnect();
}

bool CMainController::OnMessage(const PostedMessage& message) {
  if (message.message != kLoginHostProbeMessage) return false;
  probe_->OnLoginHostProbeEvent(message.wParam, message.lParam);
  return true;
}

void CMainController::OnTimer(std::uint32_t id) {
  if (id == kLoginHostProbeTimerId) {
    probe_->OnRetryTimer();
  } else if (id == kConnectWaitTimerId && waitingForHost_) {
    waitingForHost_ = false;
    view_.EnableConnect(true);
    view_.ShowMessage(GetText("CanNotFindFastestServer"), BoxIcon::Warning);
  }
}

void CMainController::OnConnect() {
  // Enter in an edit while connected comes here too: it leaves Connect as it is.
  if (updating_ || waitingForHost_ || connectionPresent_) return;
  if (GetSettingInt(kMain, L"Tip_HideAfterConnection", 0) == 0) {
    view_.ShowMessage(GetText("FirstClickConnect"), BoxIcon::Information);
    SetSettingInt(kMain, L"Tip_HideAfterConnection", 1);
  }
  view_.EnableConnect(false);
  if (probe_->HasWinner()) {
    ContinueConnect();
    return;
  }
  // The window stays live while the race goes on; a winner or the timer
  // continues from here.
  waitingForHost_ = true;
  view_.StartTimer(kConnectWaitTimerId, kConnectWaitMs);
}

void CMainController::ContinueConnect() {
  view_.EnsureDialupServices();
  view_.EnableConnect(true);
  Login();
}

void CMainController::SaveCredentials(const LoginForm& form) {
  SetSettingInt(kMain, L"SavePassword", form.savePassword ? 1 : 0);
  if (form.savePassword) {
    SetSettingString(kMain, L"Username", form.account.c_str());
    const ByteString sealed = ProtectPassword(form.password);
    if (!sealed.empty())
      SetSettingBinary(kMain, L"Password", sealed);
    else
      SetSettingString(kMain, L"Password", nullptr);
  } else {
    SetSettingString(kMain, L"Username", nullptr);
    SetSettingString(kMain, L"Password", nullptr);
  }
}

bool CMainController::LoginAttempt(const std::wstring& base, const LoginForm& form, const LoginSecrets& secrets,
                                   const std::wstring& replyPath, std::int64_t time, bool& cancelled,
                                   bool& fileFailed, bool& certificateRefused) {
  cancelled = false;
  fileFailed = false;
  // Created anew, so a reply of an earlier login can never be read as this one's.
  if (!AtomicWriteFile(replyPath, std::string())) {
    fileFailed = true;
    return false;
  }
  CDownloadRun run(target_);
  run.AddRequest(BuildLoginRequest(base, form.account, secrets, time, NextRequestRandom, limits_));
  run.SetSink([&](const std::string& body) { return AtomicWriteFile(replyPath, body); });
  view_.RunDownload(run);
  cancelled = run.UserCancelled();
  certificateRefused = certificateRefused || run.CertificateRefused();
  return run.GetState() == CDownloadRun::State::Accepted;
}

void CMainController::LoginFailed(bool certificateRefused) {
  // The box stays the usual one; the status line names a forged or
  // misconfigured host, which is not a network fault to retry.
  const std::wstring text = GetText("NetworkOrServerErrorToLogin");
  view_.SetStatusLine(certificateRefused ? text + L" (" + GetText("ServerCertificateRefused") + L")" : text);
  view_.ShowMessage(text, BoxIcon::None);
}

void CMainController::Login() {
  const std::wstring base = LoginBaseUrl();
  if (connectionPresent_ || base.empty()) return;
  const LoginForm form = view_.ReadLoginForm();
  if (form.account.empty()) {
    view_.ShowMessage(GetText("PleaseInputValidUsername"), BoxIcon::Warning);
    return;
  }
  SaveCredentials(form);
  SetStatus(GetText("PreparingLogin"), false);

  const std::wstring replyPath = places_.programDataFolder + L"Quillnet.ini";
  // A read-only reply left from before could not be replaced, and every
  // login would fail until someone removed it by hand.
  ResetFileAttributes(replyPath);
  CDeleteOnExit cleanup(replyPath);
  const LoginSecrets secrets =
      MaskLoginSecrets(form.password, identities_.valid() ? identities_.get() : MachineIdentities{});
  bool cancelled = false;
  bool fileFailed = false;
  bool certificateRefused = false;
  // A plain-HTTP winner of the host race only showed that the service is
  // there: the password never travels in clear, so the login and every
  // later request of the run go to its HTTPS form, verified.
  const bool plainWinner = base.compare(0, 5, L"http:") == 0;
  if (plainWinner) probe_->SetLoginBaseUrl(ToHttpsBase(base));
  bool ok = LoginAttempt(LoginBaseUrl(), form, secrets, replyPath, now_(), cancelled, fileFailed, certificateRefused);
  if (!ok) {
    if (cancelled) {
      SetStatus(GetText("LoginIsCancelled"), false);
      return;
    }
    if (fileFailed || !plainWinner) {
      LoginFailed(certificateRefused);
      return;
    }
    // The second attempt a plain winner has always had, now on the same
    // HTTPS base.
    ok = LoginAttempt(LoginBaseUrl(), form, secrets, replyPath, now_() + 1, cancelled, fileFailed,
                      certificateRefused);
    if (!ok) {
      if (cancelled)
        SetStatus(GetText("LoginIsCancelled"), false);
      else
        LoginFailed(certificateRefused);
      return;
    }
  }
  LoginAfterReply(form, secrets, replyPath);
}

void CMainController::LoginAfterReply(const LoginForm& form, const LoginSecrets& secrets,
                                      const std::wstring& replyPath) {
  const int check = CheckClientVersion(view_, version_, places_.update, replyPath, webSiteUrl_);
  if (check == kVersionCheckUpdating) {
    updating_ = true;
    return;
  }
  if (check == kVersionCheckUnreadable) {
    SetStatus(GetText("NetworkOrServerErrorToLogin"), true);
    return;
  }

  const std::wstring authResult = IniReadString(replyPath, kVpn, L"AuthResult", L"");
  const std::wstring authMessage = IniReadText(replyPath, kVpn, L"AuthMessage");
  if (!EqualsNoCaseAscii(authResult, L"OK")) {
    view_.ShowMessage(GetText("LoginError") + L": " + authMessage, BoxIcon::Warning);
    SetStatus(GetText("LoginError"), false);
    if (authResult == L"Expired") {
      view_.SetExpiryText(GetText("ExpiredDateExpired"));
      view_.OpenUrl(AddChannelTag(webSiteUrl_));
    }
    return;
  }
  const std::int64_t expiry = IniReadInt64(replyPath, kVpn, L"ExpirationDatetimeGMT");
  if (expiry != 0) view_.SetExpiryText(FormatLocalDate(expiry));
  if (!authMessage.empty()) view_.ShowMessage(authMessage, BoxIcon::Information);

  const std::optional<ChooserResult> chosen = view_.RunChooser(replyPath);
  if (!chosen) {
    SetStatus(GetText("LoginIsCancelled"), false);
    return;
  }
  ConnectPlan plan;
  plan.routeDefiner = chosen->route.definer;
  plan.routeIndex = chosen->route.internalIndex;
  plan.server = chosen->server;
  plan.account = form.account;
  plan.password = form.password;
  plan.requiredOpenVpnVersion = IniReadString(replyPath, kVpn, L"RequiredOpenVpnVersion", L"");
  if (!ReadWholeFile(replyPath, plan.loginReply)) plan.loginReply.clear();
  if (plan.routeDefiner == kRouteDefinerAll || plan.routeDefiner == kRouteDefinerPerApp) {
    plan.routeMode = RouteModeFor(plan.routeDefiner, 0);
  } else {
    const std::wstring section = plan.routeDefiner == kRouteDefinerCustom ? L"CustomRoutes" : L"Routes";
    const std::wstring n = std::to_wstring(plan.routeIndex);
    const std::wstring routeId = IniReadString(replyPath, section, L"RouteId" + n, L"");
    std::string bytes;
    bytes.reserve(1024);
    CDownloadRun run(target_);
    run.SetCheckMarker(false);
    run.AddRequest(BuildRouteRequest(LoginBaseUrl(), form.account, secrets.password, section, routeId,
                                     NextRequestRandom, limits_));
    run.SetSink([&](const std::string& body) {
      bytes = body;
      return true;
    });
    view_.RunDownload(run);
    if (run.GetState() != CDownloadRun::State::Accepted) {
      SetStatus(GetText("LoginIsCancelled"), false);
      return;
    }
    plan.routeMode = RouteModeFor(plan.routeDefiner, IniReadInt(replyPath, section, L"ModifyDefaultGateway" + n, 0));
    plan.routeLines = SplitRouteLines(bytes);
  }
  plan.vpnTypes = OrderVpnTypes(chosen->vpnType, plan.server.protocols, GetSettingInt(kMain, L"LastSuccessVpnType", 1),
                                GetSettingInt(kMain, L"VpnType", 0));
  plan_ = plan;
  view_.EnableConnect(false);
  view_.EnableDisconnect(true);
  view_.StartConnect(plan_);
}
