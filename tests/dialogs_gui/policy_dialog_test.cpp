// The chooser under Wine on the test display, driven from a second thread by
// the messages clicks would send, over a fixture reply whose servers answer
// a loopback time-service stand-in.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <thread>

#include "account/settings.h"
#include "dialogs/dlg_vpn_policy_win.h"
#include "dialogs_gui/dialog_drive_win.h"
#include "dialogs_gui/dialog_fixtures_win.h"
#include "dialogs_gui/dialogs_test_support.h"
#include "skin/list_logic.h"
#include "text/text_table.h"

namespace {

constexpr wchar_t kMain[] = L"Main";
const wchar_t* const kRemembered[] = {L"LastVpnRouteDefiner", L"LastVpnRouteInternalIndex", L"LastVpnTabGroupIndex",
                                      L"LastVpnServerId", L"VpnType"};

void Remember(std::int32_t definer, std::int32_t index, std::int32_t tab, std::int32_t server, std::int32_t type) {
  const std::int32_t values[] = {definer, index, tab, server, type};
  for (int k = 0; k < 5; ++k) SetSettingInt(kMain, kRemembered[k], values[k]);
}
std::vector<std::int32_t> Remembered() {
  std::vector<std::int32_t> values;
  for (const wchar_t* key : kRemembered) values.push_back(GetSettingInt(kMain, key, -99));
  return values;
}

int LeadingNumber(const std::wstring& text) { return _wtoi(text.c_str()); }

// The chooser opened modally on this thread while `drive` runs on another
// with the dialog's window; returns what the dialog handed back.
struct PolicyRun {
  CScratchFolder folder;
  CUdpDelayResponder responder;
  VpnPolicyDialogInputs inputs;
  std::vector<std::pair<std::wstring, UINT>> boxes;  // message boxes shown
  int boxAnswer = IDOK;

  explicit PolicyRun(const ReplyFixture& fixture = {}) {
    inputs.replyPath = folder.File(L"login.ini");
    WriteLoginReply(inputs.replyPath, fixture);
    inputs.overrideFilePath = WriteUdpOnlyOverride(folder.Path());
    inputs.udpPort = responder.Port();
    inputs.bindModuleActive = true;
    inputs.messageBox = [this](HWND, const std::wstring& text, UINT type) {
      boxes.emplace_back(text, type);
      return boxAnswer;
    };
  }
  template <class F>
  std::optional<ConnectCheck> Run(F drive) {
    std::thread driver;
    // The modal loop shows the window once it is idle: drive it from then.
    inputs.onShown = [&](HWND dialog) {
      driver = std::thread([&, dialog] {
        WaitUntil(20000, [&] { return ::IsWindowVisible(dialog) != FALSE; });
        drive(dialog);
      });
    };
    auto result = RunVpnPolicyDialog(nullptr, inputs);
    if (driver.joinable()) driver.join();
    return result;
  }
};

// The tab strip's row: clicks along it until the open tab changes.
bool OpenNextTab(HWND dialog) {
  HWND tabs = FindDescendant(dialog, kPolicyTabs);
  HWND list = ServerList(dialog);
  const std::wstring first = ListText(list, 0, 0);
  for (int x = 100; x < 400; x += 6) {
    ClickAt(tabs, x, 10);
    if (ListText(list, 0, 0) != first) return true;
  }
  return false;
}

TEST(PolicyDialog, FillsMeasuresSortsSwitchesTabsAndConnects) {
  EnsureDialogTestEnvironment();
  Remember(1, 0, 0, -1, 0);
  PolicyRun run;
  struct Seen {
    int rows = 0;
    bool filled = false;
    std::vector<int> ascending, descending;
    bool tabChanged = false;
    int rowsAfterTab = 0;
    std::int32_t chosenId = -1;
    bool pptpEnabled = false;
  } seen;
  const auto result = run.Run([&](HWND dialog) {
    HWND list = ServerList(dialog);
    seen.rows = ListRowCount(list);
    seen.filled = WaitForSpeedColumn(dialog, 60000);
    ClickHeaderColumn(list, 2);
    for (const auto& t : ListColumn(list, 2)) seen.ascending.push_back(LeadingNumber(t));
    ClickHeaderColumn(list, 2);
    for (const auto& t : ListColumn(list, 2)) seen.descending.push_back(LeadingNumber(t));
    seen.tabChanged = OpenNextTab(dialog);
    seen.rowsAfterTab = ListRowCount(list);
    // Back to the first tab, whose servers offer all three types but the
    // fortieth; pick a row that offers them.
    ClickAt(FindDescendant(dialog, kPolicyTabs), 100, 10);
    for (int row = 0; row < ListRowCount(list); ++row) {
      // The fixture's titles end in the server's id.
      const std::wstring title = ListText(list, row, 0);
      const int id = _wtoi(title.substr(title.size() - 3).c_str());
      if ((id - 1) % 40 == 39) continue;
      SelectListRow(list, row);
      seen.chosenId = id;
      break;
    }
    HWND box = FindDescendant(dialog, kPolicyTypeAuto + 1);
    seen.pptpEnabled = ::IsWindowEnabled(box);
    ::SendMessageW(box, BM_CLICK, 0, 0);
    SelectRoute(dialog, 2);  // the first route set of the reply
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(seen.rows, 40);  // a third of the servers carry the first tab's key
  EXPECT_TRUE(seen.filled) << "the speed column did not fill with results";
  ASSERT_EQ(seen.ascending.size(), 40u);
  EXPECT_TRUE(std::is_sorted(seen.ascending.begin(), seen.ascending.end()));
  EXPECT_TRUE(std::is_sorted(seen.descending.rbegin(), seen.descending.rend()));
  EXPECT_LT(seen.ascending.front(), seen.ascending.back()) << "measured values should differ";
  EXPECT_TRUE(seen.tabChanged);
  EXPECT_EQ(seen.rowsAfterTab, 40);
  EXPECT_TRUE(seen.pptpEnabled);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->route.definer, kRouteDefinerListed);
  EXPECT_EQ(result->route.internalIndex, 0);
  EXPECT_EQ(result->server.id, seen.chosenId);
  EXPECT_EQ(result->vpnType, kVpnTypePptp);
  EXPECT_EQ(Remembered(), (std::vector<std::int32_t>{kRouteDefinerListed, 0, 0, seen.chosenId, kVpnTypePptp}));
  EXPECT_TRUE(run.boxes.empty());
}

// What a click beside the rows does: every row loses the selection.
void ClearListSelection(HWND list) {
  LVITEMW none{};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
}

TEST(PolicyDialog, AClearedServerSelectionIsNotConnectedEvenAfterATabSwitch) {
  EnsureDialogTestEnvironment();
  Remember(1, 0, 0, -1, 0);
  PolicyRun run;
  LRESULT selectedAfterTabs = -1;
  bool tabChanged = false;
  const auto result = run.Run([&](HWND dialog) {
    HWND list = ServerList(dialog);
    SelectListRow(list, 0);
    ClearListSelection(list);
    ::SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    // The open tab once more: the list is filled again with what the
    // chooser holds as selected.
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kPolicyTabs, 0), 0);
    selectedAfterTabs = ::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0);
    tabChanged = OpenNextTab(dialog);
    ::SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_TRUE(tabChanged);
  EXPECT_EQ(selectedAfterTabs, 0) << "refilling the tab selected the server again";
  EXPECT_FALSE(result.has_value()) << "Connect went on with the server the user let go";
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].first, GetText("YouHavenotChosenVpnServer"));
}

TEST(PolicyDialog, CancelWritesNothing) {
  EnsureDialogTestEnvironment();
  Remember(1001, 1, 2, 7, 3);
  PolicyRun run;
  const auto result = run.Run([](HWND dialog) {
    SelectRoute(dialog, 0);
    SelectListRow(ServerList(dialog), 3);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(Remembered(), (std::vector<std::int32_t>{1001, 1, 2, 7, 3}));
}

TEST(PolicyDialog, PerApplicationRowRefusedWithoutTheBindModule) {
  EnsureDialogTestEnvironment();
  Remember(1, 0, 0, -1, 0);
  PolicyRun run;
  run.inputs.bindModuleActive = false;
  run.boxAnswer = IDNO;
  bool updateStarted = false;
  run.inputs.startFullUpdateAndExit = [&] { updateStarted = true; };
  bool stillOpen = false, noteShown = false;
  const auto result = run.Run([&](HWND dialog) {
    SelectRoute(dialog, 1);  // "For Application"
    noteShown = ::IsWindowVisible(FindDescendant(dialog, kPolicyPerAppNote));
    SelectListRow(ServerList(dialog), 0);
    ::SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    stillOpen = ::IsWindow(dialog) && ::IsWindowVisible(dialog);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_FALSE(result.has_value());
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(noteShown);
  EXPECT_FALSE(updateStarted);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].first, GetText("AcceleratorModuleIsNotRegisteredGetFullVersion"));
  EXPECT_EQ(run.boxes[0].second & (MB_YESNO | MB_ICONQUESTION), static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(Remembered()[0], 1) << "the refused route must not be remembered";
}

std::wstring WindowText(HWND w) {
  wchar_t text[512] = {};
  ::GetWindowTextW(w, text, 512);
  return text;
}

// The tip line follows the mouse over the route rows and the type boxes, and
// Remeasure sends the shown servers to be measured again.
TEST(PolicyDialog, HoverTipsAndRemeasure) {
  EnsureDialogTestEnvironment();
  Remember(1, 0, 0, -1, 0);
  PolicyRun run;
  std::vector<std::wstring> tips;
  bool refilled = false, retested = false;
  run.Run([&](HWND dialog) {
    HWND tip = FindDescendant(dialog, kPolicyTip);
    HWND routes = RouteList(dialog);
    tips.push_back(WindowText(tip));
    ::SendMessageW(routes, WM_MOUSEMOVE, 0, MAKELPARAM(10, 2 * 20 + 5));  // over "Route set 1"
    tips.push_back(WindowText(tip));
    ::SendMessageW(routes, WM_MOUSELEAVE, 0, 0);
    tips.push_back(WindowText(tip));
    HWND pptp = FindDescendant(dialog, kPolicyTypeAuto + 1);
    ::SendMessageW(pptp, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    tips.push_back(WindowText(tip));
    ::SendMessageW(pptp, WM_MOUSELEAVE, 0, 0);
    WaitForSpeedColumn(dialog, 60000);
    // Every shown row has its answer, so its request came in before this:
    // what arrives after the click is the new round. (Reading the column
    // right after the click raced the new round's first answers.)
    const int before = run.responder.Received();
    ClickAt(FindDescendant(dialog, kPolicyRemeasure), 5, 5);
    retested = WaitUntil(30000, [&] { return run.responder.Received() > before; });
    refilled = WaitForSpeedColumn(dialog, 60000);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  const std::wstring forAll = GetText("VpnRouteForAll") + L": " + GetText("VpnRoutesTipForAll");
  ASSERT_EQ(tips.size(), 4u);
  EXPECT_EQ(tips[0], forAll);
  EXPECT_EQ(tips[1], L"Route set 1: Listed networks only");
  EXPECT_EQ(tips[2], forAll);
  EXPECT_EQ(tips[3], GetText("VpnTypePptpTip"));
  EXPECT_TRUE(retested) << "Remeasure sent no new requests";
  EXPECT_TRUE(refilled);
}

// Row colours and the scroll thumb as the screen shows them.
TEST(PolicyDialog, RowColoursAndScrollThumbOnTheScreen) {
  EnsureDialogTestEnvironment();
  Remember(1, 0, 0, -1, 0);
  PolicyRun run;
  std::vector<COLORREF> rows;
  ThumbCheck thumb;
  run.Run([&](HWND dialog) {
    HWND list = ServerList(dialog);
    SelectListRow(list, 2);
    for (int row = 0; row < 3; ++row) rows.push_back(CellBackgroundOnScreen(list, row, 1));
    // Page down twice so that the thumb leaves the top.
    ::SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
    ::SendMessageW(list, WM_VSCROLL, SB_PAGEDOWN, 0);
    thumb = ReadThumbOnScreen(list);
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], RGB(232, 239, 248));
  EXPECT_EQ(rows[1], RGB(255, 255, 255));
  EXPECT_EQ(rows[2], RGB(133, 186, 220));
  EXPECT_TRUE(thumb.found);
  EXPECT_NEAR(thumb.top, thumb.expectedTop, 1);
  EXPECT_NEAR(thumb.length, thumb.expectedLength, 1);
}

}  // namespace
