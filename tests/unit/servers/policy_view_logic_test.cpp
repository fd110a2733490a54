#include "servers/policy_view_logic.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "account/reply_document.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "platform/message_target.h"
#include "servers/speed_probe.h"
#include "text/text_table.h"

namespace {

class CFakePolicyView : public IPolicyView {
 public:
  void SetRouteRows(const std::vector<RouteRow>& rows) override { routeRows = rows.size(); }
  void SelectRouteRow(int row) override { selectedRoute = row; }
  void SetTip(const std::wstring& text) override { tip = text; }
  void SetRouteLayout(const RouteLayout& l) override { layout = l; }
  void SetTypeBoxes(const TypeBoxes& b) override { boxes = b; }
  void SetTabs(const std::vector<CategoryTab>& tabs, int open) override {
    tabCount = tabs.size();
    openTab = open;
  }
  void SetServerRows(const std::vector<ServerRow>& rows, int selected, const std::wstring& text) override {
    ids.clear();
    for (const ServerRow& r : rows) ids.push_back(r.id);
    selectedServerRow = selected;
    notice = text;
  }
  void SetSpeedCell(int row, const std::wstring& text) override { speedCells.push_back({row, text}); }
  void ShowMessage(const std::wstring& text, PolicyIcon) override { messages.push_back(text); }
  bool AskYesNo(const std::wstring& text) override {
    questions.push_back(text);
    return answerYes;
  }
  void StartFullUpdateAndExit() override { ++updates; }
  bool BindModuleActive() override { return bindActive; }
  std::int32_t RegisterBindModule() override {
    ++registrations;
    if (registrationResult == 0) bindActive = activeAfterRegistration;
    return registrationResult;
  }
  void StartSpeedTest() override { ++speedStarts; }
  void StopSpeedTest() override { ++speedStops; }
  void Close(bool ok) override { closed = ok; }

  std::size_t routeRows = 0;
  int selectedRoute = -1;
  std::wstring tip;
  RouteLayout layout{0, false};
  TypeBoxes boxes;
  std::size_t tabCount = 0;
  int openTab = -2;
  std::vector<std::int32_t> ids;
  int selectedServerRow = -2;
  std::wstring notice;
  std::vector<std::pair<int, std::wstring>> speedCells;
  std::vector<std::wstring> messages;
  std::vector<std::wstring> questions;
  bool answerYes = false;
  int updates = 0;
  bool bindActive = true;
  int registrations = 0;
  std::int32_t registrationResult = 0;
  bool activeAfterRegistration = false;
  int speedStarts = 0;
  int speedStops = 0;
  std::optional<bool> closed;
};

VpnServerMap Servers() {
  VpnServerMap servers;
  auto add = [&](std::int32_t id, const wchar_t* title, const wchar_t* category, const wchar_t* protocols) {
    VpnServerInfo& s = servers[id];
    s.id = id;
    s.title = title;
    s.categories = {category};
    s.protocols = protocols;
  };
  add(1, L"Beijing", L"china", L"pptp,l2tp,openvpn");
  add(2, L"Boston", L"usa", L"openvpn");
  add(3, L"Austin", L"usa", L"pptp");
  add(4, L"Chicago", L"usa", L"");
  return servers;
}

class PolicyViewLogic : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  static std::wstring WriteReply(const CTempDir& dir) {
    IniForgetCache();
    return dir.Write(L"login.ini",
                     "MagicTag=VpnServerResponse\r\n[Routes]\r\nTitle0=Asia\r\nComment0=Asian sites\r\n"
                     "Title1=Europe\r\nComment1=European sites\r\n");
  }
  void Remember(std::int32_t definer, std::int32_t index, std::int32_t tab, std::int32_t server, std::int32_t type) {
    SetSettingInt(L"Main", L"LastVpnRouteDefiner", definer);
    SetSettingInt(L"Main", L"LastVpnRouteInternalIndex", index);
    SetSettingInt(L"Main", L"LastVpnTabGroupIndex", tab);
    SetSettingInt(L"Main", L"LastVpnServerId", server);
    SetSettingInt(L"Main", L"VpnType", type);
  }
  bool Written(const wchar_t* name) { return settings_.Store().Has(L"Main", name); }

  CScopedFakeSettings settings_;
  CTempDir dir_;
  std::wstring reply_ = WriteReply(dir_);
  CMessageQueue queue_;
  CSpeedTest speedTest_{queue_};
  CServerChooser chooser_{Servers(), speedTest_};
  CFakePolicyView view_;
  CPolicyDialogController controller_{reply_, chooser_, view_};
};

TEST_F(PolicyViewLogic, SetUpRestoresTheRememberedChoice) {
  Remember(1001, 1, 1, 3, kVpnTypeOpenVpn);
  CPolicyDialogController controller(reply_, chooser_, view_);
  controller.SetUp();
  EXPECT_EQ(view_.routeRows, 4u);  // For All, For Application, Asia, Europe
  EXPECT_EQ(view_.selectedRoute, 3);
  EXPECT_EQ(view_.tip, L"Europe: European sites");
  EXPECT_EQ(view_.tabCount, 2u);
  EXPECT_EQ(view_.openTab, 1);
  EXPECT_EQ(view_.ids, (std::vector<std::int32_t>{3, 2, 4}));  // usa, by name
  EXPECT_EQ(view_.selectedServerRow, 0);
  EXPECT_EQ(view_.notice, L"");
  // The restored server offers only PPTP: the remembered OpenVPN box is
  // disabled and so unchecked.
  EXPECT_FALSE(view_.boxes.enabled[kVpnTypeOpenVpn]);
  EXPECT_EQ(view_.boxes.checked, -1);
  EXPECT_EQ(view_.layout.tabHeight, 310);
  EXPECT_FALSE(view_.layout.showPerAppNote);
  EXPECT_EQ(view_.speedStarts, 1);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(PolicyViewLogic, SetUpWithNothingRemembered) {
  controller_.SetUp();
  EXPECT_EQ(view_.selectedRoute, 0);
  EXPECT_EQ(view_.tip, L"For All: " + GetText("VpnRoutesTipForAll"));
  EXPECT_EQ(view_.openTab, 0);
  EXPECT_EQ(view_.ids, (std::vector<std::int32_t>{1}));
  EXPECT_EQ(view_.selectedServerRow, -1);
  EXPECT_EQ(view_.boxes.checked, kVpnTypeAuto);
}

TEST_F(PolicyViewLogic, TipLineFollowsTheMouse) {
  controller_.SetUp();
  const std::wstring forAll = L"For All: " + GetText("VpnRoutesTipForAll");
  struct Step {
    const char* name;
    void (*act)(CPolicyDialogController&);
    std::wstring tip;
  } steps[] = {
      {"over Asia", [](CPolicyDialogController& c) { c.RouteHover(2); }, L"Asia: Asian sites"},
      {"below the last row", [](CPolicyDialogController& c) { c.RouteHover(-1); }, forAll},
      {"past the rows", [](CPolicyDialogController& c) { c.RouteHover(9); }, forAll},
      {"over L2TP", [](CPolicyDialogController& c) { c.TypeHover(kVpnTypeL2tp); }, GetText("VpnTypeL2tpTip")},
      {"off the box", [](CPolicyDialogController& c) { c.TypeLeave(); }, forAll},
      {"over Auto", [](CPolicyDialogController& c) { c.TypeHover(kVpnTypeAuto); },
       L"The VPN Type will be chosed automatically"},
      {"choose Europe", [](CPolicyDialogController& c) { c.RouteSelected(3); }, L"Europe: European sites"},
      {"over For All", [](CPolicyDialogController& c) { c.RouteHover(0); }, forAll},
      {"off the list", [](CPolicyDialogController& c) { c.RouteLeave(); }, L"Europe: European sites"},
      {"nothing selected", [](CPolicyDialogController& c) { c.RouteSelected(-1); }, L"Please choose a VPN Mode"},
  };
  for (const Step& s : steps) {
    s.act(controller_);
    EXPECT_EQ(view_.tip, s.tip) << s.name;
  }
  EXPECT_EQ(VpnTypeTip(4), L"");
  EXPECT_EQ(VpnTypeTip(kVpnTypeOpenVpn), GetText("VpnTypeOpenVpnTip"));
}

TEST_F(PolicyViewLogic, LayoutByRoute) {
  controller_.SetUp();
  controller_.RouteSelected(1);
  EXPECT_EQ(view_.layout.tabHeight, 280);
  EXPECT_TRUE(view_.layout.showPerAppNote);
  EXPECT_EQ(view_.tip.rfind(L"For Application: Recommended.", 0), 0u);
  EXPECT_EQ(PolicyTabRect(view_.layout), (PolicyRect{150, 50, 690, 330}));
  controller_.RouteSelected(2);
  EXPECT_EQ(view_.layout.tabHeight, 310);
  EXPECT_FALSE(view_.layout.showPerAppNote);
  EXPECT_EQ(PolicyTabRect(view_.layout), (PolicyRect{150, 50, 690, 360}));
}

TEST_F(PolicyViewLogic, ServerSelectionDrivesTheTypeBoxes) {
  controller_.SetUp();
  controller_.TabChanged(1);
  ASSERT_EQ(view_.ids, (std::vector<std::int32_t>{3, 2, 4}));
  controller_.TypeClicked(kVpnTypePptp);
  controller_.ServerSelected(1);  // Boston: OpenVPN only
  EXPECT_EQ(view_.boxes.checked, -1);
  EXPECT_TRUE(view_.boxes.enabled[kVpnTypeOpenVpn]);
  EXPECT_FALSE(view_.boxes.enabled[kVpnTypePptp]);
  controller_.TypeClicked(kVpnTypePptp);  // disabled: no effect
  EXPECT_EQ(controller_.Boxes().checked, -1);
  EXPECT_TRUE(view_.messages.empty());

  controller_.ServerSelected(2);  // Chicago offers nothing
  EXPECT_EQ(view_.messages, (std::vector<std::wstring>{GetText("ChosenVpnServerHaveNoVpnTypeTryAnother")}));
  EXPECT_TRUE(view_.boxes.enabled[kVpnTypeAuto]);
  EXPECT_FALSE(view_.boxes.enabled[kVpnTypeOpenVpn]);

  controller_.ColumnClicked(0);  // name, descending now
  EXPECT_EQ(view_.ids, (std::vector<std::int32_t>{4, 2, 3}));
  EXPECT_EQ(view_.selectedServerRow, 0);
}

TEST(PolicyViewHelpers, SpeedCellPlace) {
  struct Case {
    PolicyRect cell;
    PolicyRect icon, text;
  } cases[] = {
      {{395, 17, 470, 34}, {396, 19, 408, 31}, {412, 17, 468, 34}},
      {{0, 0, 75, 16}, {1, 2, 13, 14}, {17, 0, 73, 16}},
      {{0, 0, 10, 20}, {1, 4, 13, 16}, {17, 0, 8, 20}},   // too narrow: the text gets nothing
  };
  for (const Case& c : cases) {
    const SpeedCellPlace place = PlaceSpeedCell(c.cell, 12, 12);
    EXPECT_EQ(place.icon, c.icon) << c.cell.left << "," << c.cell.top;
    EXPECT_EQ(place.text, c.text) << c.cell.left << "," << c.cell.top;
  }
}

TEST_F(PolicyViewLogic, NoticeAndSpeedResults) {
  EXPECT_EQ(ServerListNotice(0), L"System in maintenance. Please try again later.");
  EXPECT_EQ(ServerListNotice(3), L"");

  CServerChooser empty{VpnServerMap{}, speedTest_};
  CPolicyDialogController controller(reply_, empty, view_);
  controller.SetUp();
  EXPECT_TRUE(view_.ids.empty());
  EXPECT_EQ(view_.tabCount, 0u);
  EXPECT_EQ(view_.notice, L"System in maintenance. Please try again later.");

  controller_.SetUp();
  controller_.TabChanged(1);
  EXPECT_TRUE(controller_.SpeedResult(kMsgIcmpResult, 2, 42));
  EXPECT_TRUE(controller_.SpeedResult(kMsgUdpResult, 1, 7));  // not shown on this tab
  EXPECT_FALSE(controller_.SpeedResult(1027, 2, 1));
  ASSERT_EQ(view_.speedCells.size(), 1u);
  EXPECT_EQ(view_.speedCells[0], std::make_pair(1, std::wstring(L"42 ms")));
}

TEST_F(PolicyViewLogic, ConnectAndCancel) {
  const wchar_t* const kAll[] = {L"LastVpnRouteDefiner", L"LastVpnRouteInternalIndex", L"LastVpnServerId",
                                 L"LastVpnTabGroupIndex", L"VpnType"};
  struct Case {
    const char* name;
    int route;
    int tab;
    int serverRow;  // -1: none
    int type;
    bool bindActive, answerYes;
    std::optional<bool> closed;
    std::vector<std::wstring> messages;
    std::size_t questions;
    int updates;
    std::size_t written;  // how many of kAll, in that order
  } cases[] = {
      {"no route", -1, 0, 0, 0, true, false, std::nullopt, {GetText("YouHavenotChosenVpnRoute")}, 0, 0, 0},
      {"per application without the bind module, No", 1, 0, 0, 0, false, false, std::nullopt, {}, 1, 0, 0},
      {"per application without the bind module, Yes", 1, 0, 0, 0, false, true, std::nullopt, {}, 1, 1, 0},
      {"no server", 0, 0, -1, 0, true, false, std::nullopt, {GetText("YouHavenotChosenVpnServer")}, 0, 0, 2},
      {"everything chosen", 3, 1, 1, kVpnTypeOpenVpn, true, false, true, {}, 0, 0, 5},
      {"per application with the bind module", 1, 1, 0, kVpnTypePptp, true, false, true, {}, 0, 0, 5},
  };
  for (const Case& c : cases) {
    settings_.Store().DeleteSection(L"Main");
    CServerChooser chooser{Servers(), speedTest_};
    CFakePolicyView view;
    view.bindActive = c.bindActive;
    view.answerYes = c.answerYes;
    CPolicyDialogController controller(reply_, chooser, view);
    controller.SetUp();
    controller.RouteSelected(c.route);
    controller.TabChanged(c.tab);
    controller.ServerSelected(c.serverRow);
    controller.TypeClicked(c.type);
    controller.Connect();
    EXPECT_EQ(view.closed, c.closed) << c.name;
    EXPECT_EQ(view.messages, c.messages) << c.name;
    ASSERT_EQ(view.questions.size(), c.questions) << c.name;
    if (c.questions != 0) {
      EXPECT_EQ(view.questions[0], GetText("AcceleratorModuleIsNotRegisteredGetFullVersion")) << c.name;
    }
    EXPECT_EQ(view.updates, c.updates) << c.name;
    EXPECT_EQ(view.speedStops, c.closed ? 1 : 0) << c.name;
    for (std::size_t i = 0; i < 5; ++i)
      EXPECT_EQ(Written(kAll[i]), i < c.written) << c.name << " " << i;
    EXPECT_EQ(controller.Confirmed(), c.closed.has_value()) << c.name;
  }
}

// Per application needs the module in the catalog: Connect registers it
// again when it is not active, and a registration that fails (rolled back by
// the module) is told to the user instead of the full version's offer.
TEST_F(PolicyViewLogic, PerApplicationRegistersTheModuleAndReportsAFailure) {
  struct Case {
    const char* name;
    int route;
    bool activeBefore;
    std::int32_t registrationResult;
    bool activeAfter;
    int registrations;
    std::vector<std::wstring> messages;
    std::size_t questions;  // the full version's offer
    std::optional<bool> closed;
  } cases[] = {
      {"already active", 1, true, 0, true, 0, {}, 0, true},
      {"registered now", 1, false, 0, true, 1, {}, 0, true},
      {"registered, still not loaded", 1, false, 0, false, 1, {}, 1, std::nullopt},
      {"registration failed", 1, false, 1, false, 1, {GetText("BindModuleRegistrationFailed")}, 0, std::nullopt},
      {"registration refused by the catalog", 1, false, 10022, false, 1, {GetText("BindModuleRegistrationFailed")}, 0,
       std::nullopt},
      {"another route needs no module", 0, false, 1, false, 0, {}, 0, true},
  };
  for (const Case& c : cases) {
    settings_.Store().DeleteSection(L"Main");
    CServerChooser chooser{Servers(), speedTest_};
    CFakePolicyView view;
    view.bindActive = c.activeBefore;
    view.registrationResult = c.registrationResult;
    view.activeAfterRegistration = c.activeAfter;
    CPolicyDialogController controller(reply_, chooser, view);
    controller.SetUp();
    controller.RouteSelected(c.route);
    controller.TabChanged(1);
    controller.ServerSelected(0);
    controller.Connect();
    EXPECT_EQ(view.registrations, c.registrations) << c.name;
    EXPECT_EQ(view.messages, c.messages) << c.name;
    EXPECT_EQ(view.questions.size(), c.questions) << c.name;
    EXPECT_EQ(view.closed, c.closed) << c.name;
    if (!c.messages.empty()) EXPECT_EQ(view.tip, GetText("BindModuleRegistrationFailed")) << c.name << ": status";
  }
}

// The list's selection cleared by the user is what Connect sees, whatever
// happens to the list in between.
TEST_F(PolicyViewLogic, AClearedServerSelectionStaysClearedUntilConnect) {
  struct Case {
    const char* name;
    std::vector<std::function<void(CPolicyDialogController&)>> between;
  } cases[] = {
      {"nothing", {}},
      {"tab switch and back", {[](auto& c) { c.TabChanged(0); }, [](auto& c) { c.TabChanged(1); }}},
      {"sorting", {[](auto& c) { c.ColumnClicked(0); }, [](auto& c) { c.ColumnClicked(0); }}},
      {"remeasure", {[](auto& c) { c.Remeasure(); }}},
  };
  for (const Case& c : cases) {
    settings_.Store().DeleteSection(L"Main");
    Remember(kRouteDefinerAll, 0, 1, 3, kVpnTypeAuto);  // usa tab, Austin
    CServerChooser chooser{Servers(), speedTest_};
    CFakePolicyView view;
    CPolicyDialogController controller(reply_, chooser, view);
    controller.SetUp();
    ASSERT_EQ(view.selectedServerRow, 0) << c.name;
    controller.ServerSelected(-1);
    for (const auto& step : c.between) step(controller);
    if (!c.between.empty()) EXPECT_EQ(view.selectedServerRow, -1) << c.name << ": the list selected it again";
    controller.Connect();
    EXPECT_EQ(view.messages, std::vector<std::wstring>{GetText("YouHavenotChosenVpnServer")}) << c.name;
    EXPECT_FALSE(view.closed.has_value()) << c.name;
    EXPECT_EQ(ReadChooserMemory().lastVpnServerId, 3) << c.name << ": the server is not written either";
  }
}

TEST_F(PolicyViewLogic, ConnectHandsOverTheChoice) {
  controller_.SetUp();
  controller_.RouteSelected(3);  // Europe
  controller_.TabChanged(1);
  controller_.ServerSelected(1);  // Boston
  controller_.TypeClicked(kVpnTypeOpenVpn);
  controller_.Connect();
  ASSERT_TRUE(controller_.Confirmed());
  EXPECT_EQ(controller_.Result().route.definer, kRouteDefinerListed);
  EXPECT_EQ(controller_.Result().route.internalIndex, 1);
  EXPECT_EQ(controller_.Result().server.id, 2);
  EXPECT_EQ(controller_.Result().vpnType, kVpnTypeOpenVpn);
  const ChooserMemory memory = ReadChooserMemory();
  EXPECT_EQ(memory.lastVpnRouteDefiner, kRouteDefinerListed);
  EXPECT_EQ(memory.lastVpnRouteInternalIndex, 1);
  EXPECT_EQ(memory.lastVpnTabGroupIndex, 1);
  EXPECT_EQ(memory.lastVpnServerId, 2);
  EXPECT_EQ(memory.vpnType, kVpnTypeOpenVpn);

  settings_.Store().DeleteSection(L"Main");
  CFakePolicyView view;
  CPolicyDialogController again(reply_, chooser_, view);
  again.SetUp();
  again.Cancel();
  EXPECT_EQ(view.closed, false);
  EXPECT_EQ(view.speedStops, 1);
  EXPECT_FALSE(settings_.Store().HasSection(L"Main"));
  EXPECT_FALSE(again.Confirmed());
  // Nothing remembered reads as the defaults.
  const ChooserMemory defaults = ReadChooserMemory();
  EXPECT_EQ(defaults.lastVpnRouteDefiner, 0);
  EXPECT_EQ(defaults.lastVpnServerId, -1);
  EXPECT_EQ(defaults.vpnType, 0);
}

}  // namespace
