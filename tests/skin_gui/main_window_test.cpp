// The main window as the Windows view of the login and connect controllers:
// its controls where the layout puts them, the opening sequence's visible
// results, the connect flow over scripted connections, the announcement
// slots and the busy bar's geometry. The
// client's settings and override file are redirected into a folder of the
// test's own, and the login hosts point at a closed loopback port.
#include "app/dlg_vpn_main_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "account/protection_settings.h"
#include "account/settings.h"
#include "app/dlg_download_win.h"
#include "fakes/fake_forward_table.h"
#include "fakes/test_vpn.h"
#include "skin/skin_platform_win.h"
#include "skin_gui/skin_test_support.h"
#include "text/text_table.h"

namespace {

// Connections the test steers: a start that fails at once, or a tunnel
// that completes when told.
class CScriptedVpn : public CTestVpn {
 public:
  CScriptedVpn(IForwardTable& table, std::int32_t kind, bool startFails)
      : CTestVpn(table, std::make_unique<CFakeRouteRequestServer>(table), kind), startFails_(startFails) {}
  std::int32_t Start() override {
    const std::int32_t result = CGeneralVpn::Start();
    if (result != 0 || !startFails_) return result;
    StoreState(GENERAL_VPN_STATE_START, GENERAL_VPN_ERROR_CONNECT, 0);
    return GENERAL_VPN_ERROR_CONNECT;
  }
  void Complete() {
    Learn(L"10.8.0.6");
    SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  }

 private:
  bool startFails_;
};

class CScriptedFactory : public IConnectionFactory {
 public:
  explicit CScriptedFactory(IForwardTable& table) : table_(table) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo&) override {
    auto vpn = std::make_unique<CScriptedVpn>(table_, type, startFails);
    made.push_back(vpn.get());
    return vpn;
  }
  std::vector<CScriptedVpn*> made;
  bool startFails = false;

 private:
  IForwardTable& table_;
};

// Saved where the build keeps its screenshots, when the test is told where.
void SaveShot(const RECT& area, const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  if (!::GetEnvironmentVariableW(L"QUILLNET_SCREENSHOTS", folder, MAX_PATH)) return;
  HDC screen = ::GetDC(nullptr);
  EXPECT_TRUE(SavePng(screen, area, std::wstring(folder) + name)) << name;
  ::ReleaseDC(nullptr, screen);
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureSkin();
    LoadTextTable();
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = std::filesystem::path(temp) / (L"quillnet-main-window-" + std::to_wstring(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder_ / L"data");
    std::ofstream(folder_ / L"override.ini") << "[Main]\r\nLoginHosts=http://127.0.0.1:9/\r\n";
    saved_ = CurrentSettingsPlaces();
    SettingsPlaces places;
    places.userRoot = L"Software\\QuillnetTests\\MainWindow" + std::to_wstring(::GetCurrentProcessId());
    places.programDataFolder = (folder_ / L"data" / L"").wstring();
    places.moduleFolder = (folder_ / L"").wstring();
    places.overrideFilePath = (folder_ / L"override.ini").wstring();
    RedirectSettingsPlaces(places);

    MainWindowContext context;
    context.places.update.overridePath = places.overrideFilePath;
    context.places.programDataFolder = places.programDataFolder;
    context.places.announcementsPath = places.programDataFolder + L"QuillnetAnns.ini";
    context.chooser = [this](HWND, const std::wstring& replyPath) -> std::optional<ChooserResult> {
      chooserReplies_.push_back(replyPath);
      return std::nullopt;
    };
    SetUpHomeNetwork(table_);
    context.factory = &factory_;
    context.messageBox = [this](HWND, const std::wstring& text, UINT type) {
      boxes_.push_back(text);
      if ((type & 0xF) != MB_YESNO) return IDOK;
      return answerYes_ ? IDYES : IDNO;
    };
    context_ = context;
    Reopen();
  }

  // The window ends the program when it goes: its quit message must not
  // end the next test's modal loops.
  void CloseWindow() {
    window_.reset();
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  void Reopen() {
    CloseWindow();
    factory_.made.clear();
    boxes_.clear();
    window_ = std::make_unique<CDlgVpnMain>(context_);
    ASSERT_TRUE(window_->Create());
  }

  ConnectPlan Plan(std::vector<std::int32_t> types) const {
    ConnectPlan plan;
    plan.server.title = L"Frankfurt 1";
    plan.server.host = L"198.51.100.7";
    plan.routeMode = RouteModeListedRoutes;
    plan.routeDefiner = 1;
    plan.routeLines = {L"172.16.0.0/12"};
    plan.vpnTypes = std::move(types);
    plan.account = L"alice";
    plan.password = L"secret";
    return plan;
  }
  // Connected through one scripted connection, the window on the screen.
  void Connect(bool perApplication = false) {
    ::ShowWindow(window_->Handle(), SW_SHOWNORMAL);
    ConnectPlan plan = Plan({1});
    if (perApplication) {
      plan.routeMode = RouteModePerApplication;
      plan.routeDefiner = 2;
      plan.routeLines.clear();
    }
    window_->StartConnect(plan);
    ASSERT_EQ(factory_.made.size(), 1u);
    factory_.made[0]->Complete();
    PumpFor(300);
    ASSERT_NE(window_->ConnectFlow(), nullptr);
    ASSERT_EQ(window_->ConnectFlow()->Phase(), kPhaseConnected);
  }

  void TearDown() override {
    CloseWindow();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\QuillnetTests\\MainWindow" +
                                         std::to_wstring(::GetCurrentProcessId())).c_str());
    RedirectSettingsPlaces(saved_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  HWND Item(int id) const { return ::GetDlgItem(window_->Handle(), id); }
  std::wstring TextOf(int id) const {
    wchar_t buffer[256] = {};
    ::GetWindowTextW(Item(id), buffer, 256);
    return buffer;
  }
  RECT RectOf(int id) const {
    RECT r{};
    ::GetWindowRect(Item(id), &r);
    ::MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  std::filesystem::path folder_;
  SettingsPlaces saved_;
  MainWindowContext context_;
  CFakeForwardTable table_;
  CScriptedFactory factory_{table_};
  std::vector<std::wstring> boxes_;
  bool answerYes_ = false;
  std::unique_ptr<CDlgVpnMain> window_;
  std::vector<std::wstring> chooserReplies_;
};

TEST_F(MainWindow, ControlsSitWhereTheLayoutPutsThem) {
  const struct {
    int id;
    RECT rect;
  } cases[] = {
      {1036, {30, 124, 310, 142}},  {1037, {30, 143, 310, 161}},  {1038, {30, 162, 310, 180}},
      {1039, {30, 181, 310, 199}},  {kIdPublicAddress, {95, 210, 190, 228}}, {kIdExpiry, {240, 210, 310, 228}},
      {kIdAccountEdit, {114, 250, 260, 264}}, {kIdPasswordEdit, {114, 282, 260, 296}},
      {kIdSavePassword, {94, 310, 194, 325}}, {kIdForgotPassword, {200, 310, 290, 325}},
      {kIdConnect, {40, 333, 160, 360}},     {kIdDisconnect, {170, 333, 290, 360}},
      {kIdStatusLine, {72, 364, 305, 378}},  {1005, {15, 410, 70, 459}},  {1006, {75, 410, 130, 459}},
      {kIdLeakProtection, {20, 382, 108, 397}}, {kIdAllowLocalNetwork, {119, 382, 207, 397}},
      {kIdReconnect, {218, 382, 306, 397}},
      {1007, {135, 410, 190, 459}},          {1009, {195, 410, 250, 459}}, {1012, {255, 410, 310, 459}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_NE(Item(c.id), nullptr);
    const RECT r = RectOf(c.id);
    EXPECT_EQ(r.left, c.rect.left);
    EXPECT_EQ(r.top, c.rect.top);
    EXPECT_EQ(r.right, c.rect.right);
    EXPECT_EQ(r.bottom, c.rect.bottom);
  }
  RECT frame{};
  ::GetWindowRect(window_->Handle(), &frame);
  EXPECT_EQ(frame.right - frame.left, CDlgVpnMain::kWidth);
  EXPECT_EQ(frame.bottom - frame.top, CDlgVpnMain::kHeight);
  EXPECT_EQ(::GetWindowLongW(window_->Handle(), GWL_STYLE) & WS_MAXIMIZEBOX, 0);
}

TEST_F(MainWindow, LowerControlsKeepTheirDistance) {
  // The background draws a line over the web buttons at this height.
  constexpr int kWebAreaLine = 401;
  const int lower[] = {kIdSavePassword, kIdForgotPassword, kIdConnect,    kIdDisconnect, kIdStatusLine,
                       kIdLeakProtection, kIdAllowLocalNetwork, kIdReconnect, 1005, 1006, 1007, 1009, 1012};
  struct Placed {
    int id;
    RECT rect;
  };
  std::vector<Placed> placed;
  for (int id : lower) {
    ASSERT_NE(Item(id), nullptr) << id;
    placed.push_back({id, RectOf(id)});
  }
  // At least two pixels of background between any two controls.
  constexpr int kAir = 2;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const RECT& a = placed[i].rect;
    for (std::size_t j = i + 1; j < placed.size(); ++j) {
      const RECT& b = placed[j].rect;
      const bool apart = a.right + kAir <= b.left || b.right + kAir <= a.left || a.bottom + kAir <= b.top ||
                         b.bottom + kAir <= a.top;
      EXPECT_TRUE(apart) << placed[i].id << " and " << placed[j].id << " touch";
    }
    const bool aboveLine = a.bottom + kAir <= kWebAreaLine;
    const bool belowLine = a.top > kWebAreaLine + kAir;
    EXPECT_TRUE(aboveLine || belowLine) << placed[i].id << " crosses the line over the web buttons";
  }
}

TEST_F(MainWindow, LeakProtectionFollowsTheConnectAndNeverStopsIt) {
  // Under Wine the filtering platform is a stub that refuses: the log says
  // so for each step and the tunnel still comes up; on Windows it says what
  // was put in force.
  const struct {
    bool protection;
    std::size_t minLines;  // connecting and connected
  } cases[] = {{true, 2}, {false, 0}};
  const std::filesystem::path log = folder_ / L"data" / L"QuillnetProtection.log";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.protection);
    std::filesystem::remove(log);
    ProtectionSettings settings;
    settings.leakProtection = c.protection;
    WriteProtectionSettings(settings);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_TRUE(boxes_.empty());
    std::ifstream in(log);
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);) {
      EXPECT_NE(line.find(" leak protection: "), std::string::npos) << line;
      ++lines;
    }
    if (c.protection) {
      EXPECT_GE(lines, c.minLines);
    } else {
      EXPECT_EQ(lines, 0u);
    }
    ::SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(kIdDisconnect, BN_CLICKED), 0);
    EXPECT_EQ(window_->ConnectFlow()->Phase(), kPhaseIdle);
    EXPECT_FALSE(::IsWindowEnabled(Item(kIdDisconnect)));
  }
}

TEST_F(MainWindow, OpensReadyWithTheFormLimitsAndConnectOnly) {
  EXPECT_EQ(TextOf(kIdStatusLine), L"Ready(Version: 2.3.0.2)");
  EXPECT_EQ(TextOf(kIdExpiry), L"(Offline)");
  EXPECT_EQ(TextOf(kIdPublicAddress), L"detecting ...");
  EXPECT_TRUE(::IsWindowEnabled(Item(kIdConnect)));
  EXPECT_FALSE(::IsWindowEnabled(Item(kIdDisconnect)));
  for (int id : {kIdAccountEdit, kIdPasswordEdit}) EXPECT_EQ(::SendMessageW(Item(id), EM_GETLIMITTEXT, 0, 0), 16);
  EXPECT_EQ(::SendMessageW(Item(kIdPasswordEdit), EM_GETPASSWORDCHAR, 0, 0), L'*');
  EXPECT_NE(::GetPropW(window_->Handle(), kMainWindowProperty), nullptr);
  // No cache of announcements: every slot is empty, slot 0's "Loading news" included.
  for (int id = 1036; id < 1040; ++id) EXPECT_EQ(TextOf(id), L"") << id;
}

// The tray icon is added from the message loop, after the window could be
// shown; a state reached before that shows once it is there.
TEST_F(MainWindow, TheTrayIconComesWithTheLoopAndTheStateAskedForMeanwhile) {
  const struct {
    int asked, shown;  // asked 0: no state change before the loop runs
  } cases[] = {{0, kTrayIconNotConnected}, {kIconSentChanged, kIconSentChanged},
               {kTrayIconConnectedQuiet, kTrayIconConnectedQuiet}};
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(Reopen());
    EXPECT_FALSE(window_->TrayIcon().Added()) << c.asked;
    EXPECT_EQ(window_->TrayIcon().IconResource(), 0) << c.asked;
    if (c.asked) window_->SetTrayIcon(c.asked);
    PumpFor(100);
    EXPECT_TRUE(window_->TrayIcon().Added()) << c.asked;
    EXPECT_EQ(window_->TrayIcon().IconResource(), c.shown) << c.asked;
    EXPECT_NE(window_->TrayIcon().Data().hIcon, nullptr) << c.asked;
  }
}

TEST_F(MainWindow, EveryTypeFailingShowsOneBoxWithEveryReportAndConnectAgain) {
  factory_.startFails = true;
  window_->EnableConnect(false);
  window_->StartConnect(Plan({1, 1}));
  PumpFor(100);
  ASSERT_EQ(factory_.made.size(), 2u);
  ASSERT_EQ(boxes_.size(), 1u);
  // Each report is the type's name, its three lines, and a blank line.
  const std::wstring& box = boxes_[0];
  const std::size_t first = box.find(L"PPTP: ");
  ASSERT_NE(first, std::wstring::npos) << box;
  EXPECT_NE(box.find(L"PPTP: ", first + 1), std::wstring::npos) << box;
  EXPECT_EQ(box.substr(box.size() - 4), L"\r\n\r\n");
  EXPECT_TRUE(::IsWindowEnabled(Item(kIdConnect)));
  EXPECT_FALSE(::IsWindowEnabled(Item(kIdDisconnect)));
  EXPECT_EQ(window_->ConnectFlow()->Phase(), kPhaseIdle);
}

TEST_F(MainWindow, CompletionHidesToTheTrayAndDisconnectComesBackToIdle) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  EXPECT_FALSE(::IsWindowVisible(window_->Handle()));
  // Shown again from the tray, connected.
  window_->ShowMainWindow();
  PumpFor(500);
  RECT frame{};
  ::GetWindowRect(window_->Handle(), &frame);
  SaveShot(frame, L"main-window-connected-scripted.png");
  EXPECT_EQ(TextOf(kIdStatusLine), L"Login succeeded");
  EXPECT_FALSE(::IsWindowEnabled(Item(kIdConnect)));
  EXPECT_TRUE(::IsWindowEnabled(Item(kIdDisconnect)));
  EXPECT_EQ(window_->TrayIcon().IconResource(), kTrayIconConnectedQuiet);
  EXPECT_EQ(GetSettingInt(L"Main", L"LastSuccessVpnType", 0), 1);
  EXPECT_TRUE(boxes_.empty());

  ::SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(kIdDisconnect, BN_CLICKED), 0);
  EXPECT_EQ(TextOf(kIdStatusLine), GetText("AlreadyDisconnected"));
  EXPECT_TRUE(::IsWindowEnabled(Item(kIdConnect)));
  EXPECT_FALSE(::IsWindowEnabled(Item(kIdDisconnect)));
  EXPECT_EQ(window_->ConnectFlow()->Connection(), nullptr);
  EXPECT_EQ(window_->TrayIcon().IconResource(), kTrayIconNotConnected);
  // The routes the connection added are gone with it.
  CFakeForwardTable home;
  SetUpHomeNetwork(home);
  EXPECT_EQ(table_.Rows().size(), home.Rows().size());
}

TEST_F(MainWindow, PerApplicationConnectionDocksTheAccelerateDialogUntilDisconnect) {
  ASSERT_NO_FATAL_FAILURE(Connect(true));
  // Per application the window stays up, the dialog at its right edge.
  EXPECT_TRUE(::IsWindowVisible(window_->Handle()));
  const HWND dialog = window_->AccelerateDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(::IsWindowVisible(dialog));
  RECT main{}, accel{};
  ::GetWindowRect(window_->Handle(), &main);
  ::GetWindowRect(dialog, &accel);
  EXPECT_EQ(accel.left, main.right);
  EXPECT_EQ(accel.top, main.top);
  PumpFor(500);
  SaveShot({main.left, std::min(main.top, accel.top), accel.right, std::max(main.bottom, accel.bottom)},
           L"main-window-accelerate-docked.png");

  // Dragged, the dialog follows.
  ::SetWindowPos(window_->Handle(), nullptr, main.left + 7, main.top + 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::GetWindowRect(window_->Handle(), &main);
  ::GetWindowRect(dialog, &accel);
  EXPECT_EQ(accel.left, main.right);
  EXPECT_EQ(accel.top, main.top);

  ::SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(kIdDisconnect, BN_CLICKED), 0);
  EXPECT_EQ(window_->AccelerateDialog(), nullptr);
  EXPECT_FALSE(::IsWindow(dialog));
}

TEST_F(MainWindow, ClosingAsksOnlyWhileConnectedAndNoKeepsTheWindow) {
  const struct {
    bool connected, answerYes, windowGone;
    std::size_t questions;
  } cases[] = {{false, false, true, 0}, {true, false, false, 1}, {true, true, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.connected << c.answerYes);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    if (c.connected) ASSERT_NO_FATAL_FAILURE(Connect());
    answerYes_ = c.answerYes;
    const HWND window = window_->Handle();
    ::SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    PumpFor(100);
    ASSERT_EQ(boxes_.size(), c.questions);
    if (c.questions) EXPECT_EQ(boxes_[0], GetText("VpnConnectedAreYouSureToExit"));
    EXPECT_EQ(!::IsWindow(window), c.windowGone);
  }
}

TEST_F(MainWindow, FormRoundTripsAndAnnouncementSlotsTakeTextAndLink) {
  window_->FillLoginForm({L"alice", L"secret", false});
  const LoginForm form = window_->ReadLoginForm();
  EXPECT_EQ(form.account, L"alice");
  EXPECT_EQ(form.password, L"secret");
  EXPECT_FALSE(form.savePassword);
  window_->SetAnnouncement(2, L"[2026-01-01] News", L"http://www.quillnet.example/news/2");
  EXPECT_EQ(TextOf(1038), L"[2026-01-01] News");
  window_->SetAnnouncement(4, L"out of range", L"");  // ignored, no crash
  EXPECT_TRUE(chooserReplies_.empty());
}

TEST(BusyBar, GeometryFollowsTheFrameCounter) {
  const struct {
    int left, right, block, position, blocks;
    int leadingLeft;
    bool restart;
  } cases[] = {
      // 216 px of 15-px blocks: 14 blocks wide; the lead steps once per 100/14 frames.
      {2, 218, 15, 0, 20, 2, false},
      {2, 218, 15, 1, 20, 2, false},
      {2, 218, 15, 101, 20, 2 + 17 * 14, false},
      // Far beyond the right edge with all blocks: start over.
      {2, 218, 15, 2000, 20, 2 + 17 * 279, true},
      {0, 100, 10, 500, 1, 0 + 12 * 49, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    const BusyBarFrame frame = BusyBarGeometry(c.left, c.right, c.block, c.position, c.blocks);
    EXPECT_EQ(frame.leadingLeft, c.leadingLeft);
    EXPECT_EQ(frame.restart, c.restart);
  }
}

TEST(BusyBar, BlockCountIsRefusedOutsideOneToTwenty) {
  ASSERT_TRUE(RegisterBusyBarClass());
  HWND bar = ::CreateWindowExW(0, kBusyBarClass, nullptr, WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(::SendMessageW(bar, WM_USER + 2, 0, 0), 20);
  EXPECT_EQ(::SendMessageW(bar, WM_USER, 0, 0), 30);
  for (WPARAM refused : {WPARAM(0), WPARAM(21)}) EXPECT_EQ(::SendMessageW(bar, WM_USER + 3, refused, 0), 0);
  EXPECT_EQ(::SendMessageW(bar, WM_USER + 3, 7, 0), 1);
  EXPECT_EQ(::SendMessageW(bar, WM_USER + 2, 0, 0), 7);
  EXPECT_EQ(::SendMessageW(bar, WM_USER + 1, 50, 0), 1);
  EXPECT_EQ(::SendMessageW(bar, WM_USER, 0, 0), 50);
  ::DestroyWindow(bar);
}

}  // namespace
