// The main window's login against the reference account service on
// loopback, each test in a network namespace of its own so the HTTPS
// retry's default port is ours.
#include "app/login_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "account/reply_document.h"
#include "account/settings.h"
#include "app/chrome.h"
#include "fakes/fake_module_version.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "integration/account/service_process.h"
#include "integration/account/test_pki.h"
#include "integration/test_netns.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "platform/tick.h"
#include "text/text_table.h"

namespace {

const char* const kConfig = R"(
[VPN]
RequiredClientVersion=2.3.0.2
RequiredOpenVpnVersion=2.1.4.1
OfficalWebSiteUrl=http://www.quillnet.example/
UpdateURL=http://www.quillnet.example/update.html
[Account alice]
Password=wonder land
Expires=2099-01-01
Message=Hello Alice
[Account bob]
Password=builder
Expires=2020-06-30
[Announcements]
Title0=Fresh news
Url0=http://www.quillnet.example/news/1
DatetimeGMT0=1767225600
[Servers]
ServerId0=7
Title0=Loopback
ServerHost0=127.0.0.1
Protocols0=openvpn,pptp
Categories0=usa
[Routes]
Title0=Listed
RouteId0=r1
ModifyDefaultGateway0=0
[CustomRoutes]
Title0=Custom
RouteId0=c1
ModifyDefaultGateway0=1
[RouteList Routes r1]
Route0=192.0.2.0/24
Route1=198.51.100.0 mask 255.255.255.0
[RouteList CustomRoutes c1]
Route0=10.0.0.0/8
)";

struct Box {
  std::wstring text;
  BoxIcon icon;
};

class CFakeMainView : public IMainView, public IUpdateDownloadView {
 public:
  explicit CFakeMainView(CMessageQueue& queue) : queue_(queue) {}
  void Attach(CMainController* controller) { controller_ = controller; }

  // IMainView
  void SetStatusLine(const std::wstring& text) override { status.push_back(text); }
  void EnableConnect(bool enabled) override { connectEnabled = enabled; }
  void EnableDisconnect(bool enabled) override { disconnectEnabled = enabled; }
  void SetExpiryText(const std::wstring& text) override { expiry = text; }
  void SetPublicAddress(const std::wstring& text) override { publicAddress = text; }
  void SetAnnouncement(int slot, const std::wstring& text, const std::wstring&) override {
    slots[slot] = text;
    if (slot == 0) slotZero.push_back(text);
  }
  LoginForm ReadLoginForm() override { return form; }
  void FillLoginForm(const LoginForm& f) override { filled = f; }
  void StartTimer(std::uint32_t id, std::uint32_t ms) override { timers[id] = ms; }
  void StopTimer(std::uint32_t id) override { timers.erase(id); }
  void SignalLeftoverOpenVpnExit() override { ++openVpnExitSignals; }
  void EnsureDialupServices() override { ++dialupChecks; }
  void RunDownload(CDownloadRun& run) override {
    ++downloads;
    const CDownloadRun::StartReport report = run.Start();
    if (report.noRequest) {
      run.CancelByUser();
      return;
    }
    if (cancelDownloads) run.CancelByUser();
    Pump([&] { return run.GetState() != CDownloadRun::State::Running; },
         [&](const PostedMessage& m) { run.OnTransferEvent(m.wParam, m.lParam); });
    if (run.GetState() == CDownloadRun::State::Running) {
      ADD_FAILURE() << "a login transfer never ended";
      run.CancelByUser();
    }
  }
  std::optional<ChooserResult> RunChooser(const std::wstring& replyPath) override {
    ++choosers;
    if (onChooser) onChooser(replyPath);
    const VpnServerMap servers = LoadServerList(replyPath);
    if (cancelChooser || servers.empty()) return std::nullopt;
    ChooserResult result = chooser;
    result.server = servers.begin()->second;
    return result;
  }
  void StartConnect(const ConnectPlan& p) override { plans.push_back(p); }

  // IUpdateHost
  void ShowMessage(const std::wstring& text, BoxIcon icon) override { boxes.push_back({text, icon}); }
  UpdateDownloadOutcome RunUpdateDownload(const std::wstring& url, const std::wstring& localPath) override {
    updateUrls.push_back(url);
    CUpdateDownloadRun run(&queue_, *this, url, localPath, limits);
    if (!run.Open(GetTickMs())) return {false, false};
    Pump([&] { return run.Ended(); },
         [&](const PostedMessage& m) { run.OnTransferEvent(m.wParam, m.lParam, GetTickMs()); });
    return {run.Ended(), run.CancelledByUser(), run.Failure()};
  }
  UpdateStartResult StartUpdate(const std::wstring& path, const std::wstring& arguments) override {
    opened.push_back(path + L"|" + arguments);
    UpdateStartResult r;
    r.outcome = UpdateStartResult::Outcome::Started;
    return r;
  }
  void OpenUrl(const std::wstring& url) override { urls.push_back(url); }
  void ExitClient() override { ++exits; }

  // IUpdateDownloadView
  void ShowProgressBar(bool) override {}
  void SetProgress(int) override {}
  void SetStatusText(const std::wstring&) override {}

  // Delivers the queue's messages (1025 to `transfer`, the rest to the
  // controller) until `done` holds or 30 s pass.
  template <typename Done, typename Transfer>
  void Pump(Done done, Transfer transfer) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until) {
      auto m = queue_.Wait(20);
      if (!m) continue;
      if (m->message == kWmUser + 1)
        transfer(*m);
      else if (controller_)
        controller_->OnMessage(*m);
    }
  }
  template <typename Done>
  void PumpUntil(Done done) {
    Pump(done, [](const PostedMessage&) {});
  }

  int CountBoxes(const std::wstring& text) const {
    int n = 0;
    for (const Box& b : boxes) n += b.text == text;
    return n;
  }
  bool HasBox(const std::wstring& text) const {
    for (const Box& b : boxes)
      if (b.text == text) return true;
    return false;
  }

  LoginForm form{L"alice", L"wonder land", true};
  ChooserResult chooser{{kRouteDefinerAll, 0}, 0, {}};
  bool cancelChooser = false;
  bool cancelDownloads = false;
  std::function<void(const std::wstring& replyPath)> onChooser;
  CurlPlusLimits limits;

  std::vector<std::wstring> status;
  std::vector<Box> boxes;
  std::vector<ConnectPlan> plans;
  std::vector<std::wstring> urls, opened, updateUrls;
  std::map<int, std::wstring> slots;
  std::vector<std::wstring> slotZero;
  std::map<std::uint32_t, std::uint32_t> timers;
  std::wstring expiry = L"(Offline)";
  std::wstring publicAddress;
  LoginForm filled;
  bool connectEnabled = false, disconnectEnabled = false;
  int openVpnExitSignals = 0, dialupChecks = 0, downloads = 0, choosers = 0, exits = 0;

 private:
  CMessageQueue& queue_;
  CMainController* controller_ = nullptr;
};

class LoginController : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }

  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root for a network namespace of its own";
    ns_ = std::make_unique<CTestNamespace>();
    if (!ns_->Ok()) GTEST_SKIP() << "cannot make a network namespace";
    places_.programDataFolder = (dir_.Path() / "data" / "").wstring();
    std::filesystem::create_directories(dir_.Path() / "data");
    places_.announcementsPath = places_.programDataFolder + L"QuillnetAnns.ini";
    places_.update = {dir_.File(L"Quillnet.exe"), (dir_.Path() / "").wstring(),
                      places_.programDataFolder + L"QuillnetInstaller.exe",
                      places_.programDataFolder + L"Quillnet.exe", dir_.File(L"Quillnet.exe.ini")};
    view_.limits.connectTimeoutMs = 3000;
    view_.limits.noStatusTimeoutMs = 1500;
  }
  void TearDown() override {
    controller_.reset();
    service_.reset();
    ns_.reset();
  }

  // A service the host race wins against.
  // Its HTTPS side sits on the default port, where a plain winner's login goes.
  void StartService(const std::string& knobs = "", const std::string& config = kConfig) {
    service_ = std::make_unique<CServiceProcess>("HttpsPort=443\n" + knobs, config);
    ASSERT_TRUE(service_->Ready());
    IniWriteString(places_.update.overridePath, L"Main", L"LoginHosts", service_->HttpBase());
    dir_.Write(L"operator-ca.pem", TestPkiText("ca.pem"));
    IniWriteString(places_.update.overridePath, L"Main", L"CaFile", L"operator-ca.pem");
  }
  // The same address with other knobs: what the login meets after the race.
  void ReplaceService(const std::string& knobs, const std::string& config = kConfig) {
    const int port = service_->HttpPort();
    service_.reset();
    service_ = std::make_unique<CServiceProcess>("HttpsPort=443\n" + knobs + "\nHttpPort=" + std::to_string(port),
                                                 config);
    ASSERT_TRUE(service_->Ready());
  }
  void Open() {
    controller_ = std::make_unique<CMainController>(&queue_, view_, version_, places_, MachineIdentities{},
                                                    view_.limits, &position_);
    view_.Attach(controller_.get());
    controller_->Open();
  }
  void OpenAndWin() {
    Open();
    view_.PumpUntil([&] { return !controller_->LoginBaseUrl().empty(); });
    ASSERT_EQ(controller_->LoginBaseUrl(), service_->HttpBase());
  }
  std::wstring Text(const char* key) { return GetText(key); }
  bool ReplyGone() { return !FileExists(places_.programDataFolder + L"Quillnet.ini"); }

  CScopedFakeSettings settings_;
  CTempDir dir_;
  std::unique_ptr<CTestNamespace> ns_;
  std::unique_ptr<CServiceProcess> service_;
  CMessageQueue queue_;
  CFakeMainView view_{queue_};
  CFakeModuleVersion version_{CFakeModuleVersion::Pack(2, 3, 0, 2)};
  MainControllerPlaces places_;
  std::unique_ptr<CMainController> controller_;
  int position_ = -1;
};

TEST_F(LoginController, SuccessReachesTheConnectStepWithServerAndTypeOrder) {
  SetSettingInt(L"Main", L"LastSuccessVpnType", 3);
  view_.form.savePassword = false;
  SetSettingString(L"Main", L"Username", L"old");
  StartService();
  OpenAndWin();
  EXPECT_EQ(view_.status.front(), L"Ready(Version: 2.3.0.2)");
  EXPECT_EQ(view_.openVpnExitSignals, 1);
  EXPECT_EQ(view_.slots[0], L"[" + FormatLocalDate(1767225600) + L"] Fresh news");
  EXPECT_EQ(view_.publicAddress, L"127.0.0.1");

  controller_->OnConnect();
  ASSERT_EQ(view_.plans.size(), 1u);
  const ConnectPlan& plan = view_.plans[0];
  EXPECT_EQ(plan.server.id, 7);
  EXPECT_EQ(plan.server.host, L"127.0.0.1");
  EXPECT_EQ(plan.routeMode, 1);
  EXPECT_EQ(plan.vpnTypes, (std::vector<std::int32_t>{1, 3})) << "OpenVPN as last success does not lead in auto";
  EXPECT_EQ(plan.account, L"alice");
  EXPECT_TRUE(plan.routeLines.empty());
  // Kept for the connect flow: the reply itself is gone once the login returns.
  EXPECT_EQ(plan.requiredOpenVpnVersion, L"2.1.4.1");
  EXPECT_NE(plan.loginReply.find("UpdateURL=http://www.quillnet.example/update.html"), std::string::npos);
  EXPECT_TRUE(ReplyGone());
  EXPECT_TRUE(view_.HasBox(Text("FirstClickConnect")));
  EXPECT_TRUE(view_.HasBox(L"Hello Alice"));
  EXPECT_EQ(view_.expiry, FormatLocalDate(4070908800));
  EXPECT_EQ(view_.dialupChecks, 1);
  EXPECT_FALSE(view_.connectEnabled);
  EXPECT_TRUE(view_.disconnectEnabled);
  EXPECT_EQ(view_.downloads, 1);
  EXPECT_TRUE(ReplyGone());
  EXPECT_FALSE(settings_.Store().Has(L"Main", L"Username"));
  EXPECT_FALSE(settings_.Store().Has(L"Main", L"Password"));
  EXPECT_EQ(GetSettingInt(L"Main", L"SavePassword", 1), 0);
  EXPECT_EQ(GetSettingInt(L"Main", L"Tip_HideAfterConnection", 0), 1);

  // While a connection exists, Connect (or Enter in an edit) does nothing.
  controller_->SetConnectionPresent(true);
  controller_->OnConnect();
  EXPECT_EQ(view_.plans.size(), 1u);
  EXPECT_FALSE(view_.connectEnabled) << "Enter while connected enabled Connect again";
  EXPECT_EQ(view_.dialupChecks, 1);
}

TEST_F(LoginController, ListedRoutesAreFetchedIntoMemoryWithTheirRouteMode) {
  // The route command must carry the login's own masked password.
  StartService("TieRoutesToLogin=1");
  OpenAndWin();
  struct Case {
    VpnRouteChoice route;
    std::int32_t type;
    std::int32_t mode;
    std::vector<std::wstring> lines;
    std::vector<std::int32_t> types;
  } cases[] = {
      {{kRouteDefinerListed, 0}, 0, 2, {L"192.0.2.0/24", L"198.51.100.0 mask 255.255.255.0"}, {1, 3}},
      {{kRouteDefinerCustom, 0}, 2, 1, {L"10.0.0.0/8"}, {2}},
      {{kRouteDefinerPerApp, 0}, 3, 3, {}, {3}},
  };
  for (const Case& c : cases) {
    view_.chooser.route = c.route;
    view_.chooser.vpnType = c.type;
    const std::size_t before = view_.plans.size();
    controller_->OnConnect();
    ASSERT_EQ(view_.plans.size(), before + 1) << c.route.definer;
    const ConnectPlan& plan = view_.plans.back();
    EXPECT_EQ(plan.routeMode, c.mode);
    EXPECT_EQ(plan.routeDefiner, c.route.definer);
    EXPECT_EQ(plan.routeLines, c.lines);
    EXPECT_EQ(plan.vpnTypes, c.types);
    EXPECT_TRUE(ReplyGone());
  }
  EXPECT_EQ(view_.CountBoxes(Text("FirstClickConnect")), 1) << "the first-connect tip shows once";
  // The remembered credentials: saved with the box ticked.
  EXPECT_EQ(GetSettingString(L"Main", L"Username", L""), L"alice");
  auto sealed = GetSettingBinary(L"Main", L"Password");
  ASSERT_TRUE(sealed);
  EXPECT_EQ(UnprotectPassword(*sealed), std::optional<std::wstring>(L"wonder land"));
}

TEST_F(LoginController, RefusedAndExpiredAccounts) {
  StartService();
  OpenAndWin();
  view_.form = {L"alice", L"wrong", true};
  controller_->OnConnect();
  EXPECT_TRUE(view_.plans.empty());
  EXPECT_EQ(view_.choosers, 0);
  EXPECT_EQ(view_.status.back(), Text("LoginError"));
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_EQ(view_.boxes.back().text.find(Text("LoginError") + L": "), 0u);
  EXPECT_EQ(view_.expiry, L"(Offline)");
  EXPECT_TRUE(view_.urls.empty());
  EXPECT_TRUE(view_.connectEnabled);
  EXPECT_TRUE(ReplyGone());

  view_.form = {L"bob", L"builder", true};
  controller_->OnConnect();
  EXPECT_TRUE(view_.plans.empty());
  EXPECT_EQ(view_.status.back(), Text("LoginError"));
  EXPECT_EQ(view_.expiry, Text("ExpiredDateExpired"));
  EXPECT_EQ(view_.urls, std::vector<std::wstring>{L"http://www.quillnet.example/?rf=main"});

  view_.form = {L"", L"x", true};
  controller_->OnConnect();
  EXPECT_TRUE(view_.HasBox(Text("PleaseInputValidUsername")));
}

TEST_F(LoginController, ServiceThatNeverAnswersTheLoginFailsAfterTheHttpsRetry) {
  StartService();
  OpenAndWin();
  ReplaceService("NoAnswer=1\nHttpsPort=443");
  controller_->OnConnect();
  EXPECT_EQ(view_.downloads, 2);
  EXPECT_EQ(view_.status.back(), Text("NetworkOrServerErrorToLogin"));
  EXPECT_TRUE(view_.HasBox(Text("NetworkOrServerErrorToLogin")));
  EXPECT_EQ(controller_->LoginBaseUrl(), L"https://127.0.0.1/");
  EXPECT_TRUE(view_.plans.empty());
  EXPECT_TRUE(ReplyGone());

  // Already on HTTPS: no second attempt.
  controller_->OnConnect();
  EXPECT_EQ(view_.downloads, 3);
}

TEST_F(LoginController, HostRaceWithoutAWinnerEndsTheWaitWithItsMessage) {
  StartService("NoAnswer=1");
  Open();
  controller_->OnConnect();
  EXPECT_TRUE(controller_->WaitingForHost());
  EXPECT_EQ(view_.timers[kConnectWaitTimerId], kConnectWaitMs);
  EXPECT_FALSE(view_.connectEnabled);
  // Slot 0 said "Loading news ..." until the missing cache emptied it.
  EXPECT_EQ(view_.slotZero, (std::vector<std::wstring>{Text("LoadingNews"), L""}));
  EXPECT_EQ(view_.publicAddress, L"") << "no fresh reply, no address";
  controller_->OnTimer(kConnectWaitTimerId);
  EXPECT_FALSE(controller_->WaitingForHost());
  EXPECT_TRUE(view_.connectEnabled);
  EXPECT_TRUE(view_.HasBox(Text("CanNotFindFastestServer")));
  EXPECT_EQ(view_.downloads, 0);
}

TEST_F(LoginController, ConnectBeforeTheRaceIsWonGoesOnWhenAHostWins) {
  StartService("DelayMs=300");
  Open();
  controller_->OnConnect();
  ASSERT_TRUE(controller_->WaitingForHost());
  view_.PumpUntil([&] { return !view_.plans.empty(); });
  ASSERT_EQ(view_.plans.size(), 1u);
  EXPECT_EQ(view_.timers.count(kConnectWaitTimerId), 0u) << "the wait's timer is stopped";
  EXPECT_FALSE(view_.HasBox(Text("CanNotFindFastestServer")));
}

TEST_F(LoginController, ReplyWithAWrongMarkerIsNotALoginReply) {
  StartService();
  OpenAndWin();
  ReplaceService("WrongMarker=1\nHttpsPort=443");
  controller_->OnConnect();
  EXPECT_EQ(view_.downloads, 2);
  EXPECT_EQ(view_.choosers, 0);
  EXPECT_TRUE(view_.HasBox(Text("NetworkOrServerErrorToLogin")));
  EXPECT_TRUE(ReplyGone());
}

TEST_F(LoginController, ReadOnlyReplyLeftFromBeforeIsMadeWritableFirst) {
  namespace fs = std::filesystem;
  StartService();
  OpenAndWin();
  const fs::path reply = dir_.Path() / "data" / "Quillnet.ini";
  ASSERT_TRUE(AtomicWriteFile(reply.wstring(), "[VPN]\nAuthResult=stale\n"));
  fs::permissions(reply, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace);
  fs::perms seen = fs::perms::none;
  view_.onChooser = [&](const std::wstring& path) { seen = fs::status(fs::path(path)).permissions(); };
  controller_->OnConnect();
  ASSERT_EQ(view_.plans.size(), 1u);
  EXPECT_NE(seen & fs::perms::owner_write, fs::perms::none) << "the leftover's read-only mode reached this login's reply";
  EXPECT_FALSE(view_.HasBox(Text("NetworkOrServerErrorToLogin")));
  EXPECT_TRUE(ReplyGone());
}

TEST_F(LoginController, APlainWinnersLoginAndRoutesGoOnlyToItsVerifiedHttpsForm) {
  struct Case {
    const char* name;
    const char* tlsKnobs;  // the HTTPS side on the default port; nullptr: nothing listens there
    bool forged;
    bool loggedIn;
    const char* statusCause = nullptr;  // the text key the status line adds in brackets
  };
  const Case cases[] = {
      {"the operator's certificate", "", false, true},
      {"a forged certificate", "", true, false, "ServerCertificateRefused"},
      {"nothing on the HTTPS port", nullptr, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The race's winner serves plain HTTP only and must never see a secret.
    StartService("HttpsPort=-1");
    std::unique_ptr<CServiceProcess> tls;
    CTempDir certs;
    if (c.tlsKnobs) {
      std::string knobs = std::string("HttpPort=-1\nHttpsPort=443\n") + c.tlsKnobs;
      if (c.forged) {
        const PemPair pair = IssueBadServerCertificate(BadCertificate::SelfSigned);
        knobs += "\nCertificateFile=" + WideToNarrow(certs.Write(L"c.pem", pair.certificate)) +
                 "\nKeyFile=" + WideToNarrow(certs.Write(L"k.pem", pair.key));
      }
      tls = std::make_unique<CServiceProcess>(knobs, kConfig);
      ASSERT_TRUE(tls->Ready());
    }
    view_.chooser.route = {kRouteDefinerListed, 0};
    const std::size_t plansBefore = view_.plans.size();
    OpenAndWin();
    controller_->OnConnect();
    EXPECT_EQ(controller_->LoginBaseUrl(), L"https://127.0.0.1/");
    EXPECT_EQ(view_.plans.size() - plansBefore, c.loggedIn ? 1u : 0u);
    if (c.loggedIn) {
      EXPECT_NE(tls->Log().find("login user=alice"), std::string::npos);
      EXPECT_NE(tls->Log().find("getvpnroutes user=alice"), std::string::npos);
    } else {
      const std::wstring cause = c.statusCause ? L" (" + Text(c.statusCause) + L")" : L"";
      EXPECT_EQ(view_.status.back(), Text("NetworkOrServerErrorToLogin") + cause);
      // The box is the one every failed login shows.
      EXPECT_TRUE(view_.HasBox(Text("NetworkOrServerErrorToLogin")));
    }
    const std::string plain = service_->Log();
    EXPECT_NE(plain.find("probe from"), std::string::npos);
    EXPECT_EQ(plain.find("login"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("getvpnroutes"), std::string::npos) << plain;
    controller_.reset();
    tls.reset();
    view_.boxes.clear();
    position_ = 0;  // the next race starts at the override's list
  }
}

TEST_F(LoginController, CancellingTheLoginOrTheChooser) {
  StartService();
  OpenAndWin();
  view_.cancelDownloads = true;
  controller_->OnConnect();
  EXPECT_EQ(view_.downloads, 1) << "a cancelled login is not retried";
  EXPECT_EQ(view_.status.back(), Text("LoginIsCancelled"));
  EXPECT_FALSE(view_.HasBox(Text("LoginIsCancelled")));

  view_.cancelDownloads = false;
  view_.cancelChooser = true;
  controller_->OnConnect();
  EXPECT_EQ(view_.choosers, 1);
  EXPECT_EQ(view_.status.back(), Text("LoginIsCancelled"));
  EXPECT_TRUE(view_.plans.empty());
  EXPECT_TRUE(ReplyGone());
}

TEST_F(LoginController, ClientTooOldDownloadsThePortableCopyAndHandsOver) {
  StartService();
  OpenAndWin();
  const std::wstring copy = dir_.Write(L"served-Quillnet.exe", std::string(300000, 'Q') + "new build");
  const std::string config = std::string(kConfig) + "\n[Downloads]\nDownloadGreen=" + WideToUtf8(copy) + "\n";
  std::string tooOld = config;
  tooOld.replace(tooOld.find("2.3.0.2"), 7, "2.3.0.3");
  ReplaceService("", tooOld);
  controller_->OnConnect();
  EXPECT_EQ(view_.choosers, 0);
  EXPECT_TRUE(view_.plans.empty());
  EXPECT_TRUE(view_.HasBox(Text("ClientNeedUpdate")));
  ASSERT_EQ(view_.updateUrls.size(), 1u);
  std::string got, want;
  ASSERT_TRUE(ReadWholeFile(places_.update.clientDownloadPath, got));
  ASSERT_TRUE(ReadWholeFile(copy, want));
  EXPECT_EQ(got, want);
  EXPECT_TRUE(view_.HasBox(Text("DownloadUpdateCompletedReadyToExecuteUpdateFile")));
  EXPECT_EQ(view_.opened, std::vector<std::wstring>{places_.update.clientDownloadPath + L"| /update \"" +
                                                    places_.update.modulePath + L"\""});
  EXPECT_EQ(view_.exits, 1);
  EXPECT_TRUE(ReplyGone());
  // The program is closing: Connect no longer logs in.
  controller_->OnConnect();
  EXPECT_EQ(view_.downloads, 1);
}

}  // namespace
