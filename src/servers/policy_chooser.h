// The decisions of the VPN policy dialog, without drawing: the route rows,
// the category tabs, the server list's rows and selection, the speed
// results as they arrive, Remeasure, the type boxes and the Connect checks.
// The dialog mirrors this state into its controls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "servers/server_list.h"
#include "servers/speed_test.h"

constexpr std::int32_t kRouteDefinerAll = 1;
constexpr std::int32_t kRouteDefinerPerApp = 2;
constexpr std::int32_t kRouteDefinerListed = 1001;  // section Routes
constexpr std::int32_t kRouteDefinerCustom = 1002;  // section CustomRoutes

struct VpnRouteChoice {
  std::int32_t definer = 0;
  std::int32_t internalIndex = 0;
};

struct RouteRow {
  VpnRouteChoice choice;
  std::wstring title;
};

// The remembered choice (section Main of the user settings), read by the
// caller and handed in.
struct ChooserMemory {
  std::int32_t lastVpnRouteDefiner = 0;
  std::int32_t lastVpnRouteInternalIndex = 0;
  std::int32_t lastVpnTabGroupIndex = 0;
  std::int32_t lastVpnServerId = -1;
  std::int32_t vpnType = 0;
};

// "For All" and "For Application" unless the reply hides them, then the
// titles of sections Routes and CustomRoutes up to the first blank one.
std::vector<RouteRow> BuildRouteRows(const std::wstring& replyPath);
// The remembered row, else row 0; -1 with no rows.
int RouteRowToSelect(const std::vector<RouteRow>& rows, std::int32_t lastDefiner, std::int32_t lastInternalIndex);
// The tip line's text for row `row` (-1: none selected).
std::wstring RouteTip(const std::wstring& replyPath, const std::vector<RouteRow>& rows, int row);
// The tab control's height and whether the per-application note shows.
struct RouteLayout {
  int tabHeight = 310;
  bool showPerAppNote = false;
};
RouteLayout LayoutForRoute(const std::vector<RouteRow>& rows, int row);

struct CategoryTab {
  std::wstring key;
  std::wstring text;
  std::wstring flagImage;
};
// A tab for each known key that some server carries, in the fixed order.
std::vector<CategoryTab> BuildCategoryTabs(const VpnServerMap& servers);
// The remembered tab clamped to the tabs there are; -1 with none.
int ClampTabIndex(std::int32_t remembered, std::size_t tabCount);

// The four type radio boxes, indexed by VPN type. Auto is never disabled.
struct TypeBoxes {
  bool enabled[4] = {true, true, true, true};
  int checked = -1;  // -1: none
};
TypeBoxes InitialTypeBoxes(std::int32_t vpnType);
// A server became selected: enables the boxes by what it offers and
// unchecks a box that becomes disabled. Returns true when the user must be
// told that the server offers no type at all.
bool ApplyServerToTypeBoxes(const VpnServerInfo& server, TypeBoxes& boxes);
// The type Connect stores: the checked and enabled box, else automatic.
std::int32_t ChosenVpnType(const TypeBoxes& boxes);

struct ServerRow {
  std::int32_t id = 0;
  std::wstring cells[4];  // name, comment, speed, load
};

class CServerChooser {
 public:
  // `speedTest` is where servers are queued for probing; its results come
  // back through OnSpeedResult.
  CServerChooser(VpnServerMap servers, CSpeedTest& speedTest);

  const VpnServerMap& Servers() const { return servers_; }
  const std::vector<CategoryTab>& Tabs() const { return tabs_; }
  int OpenTab() const { return openTab_; }
  const std::vector<ServerRow>& Rows() const { return rows_; }
  int SelectedRow() const { return selectedRow_; }
  int SortColumn() const { return sortColumn_; }
  int SortDirection() const { return sortDirection_; }

  // Set-up: opens the remembered tab and fills the list selecting the
  // remembered server.
  void SetUp(const ChooserMemory& memory);
  // Switches tabs keeping the selected server if the new tab shows it.
  void ChangeTab(int tab);
  // Rebuilds the rows; `selectId` -1 keeps the selected server. Queues every
  // server still to be tested, shown or not.
  void Fill(std::int32_t selectId);
  // Selects a row (-1: none); returns the server or null.
  const VpnServerInfo* SelectRow(int row);
  const VpnServerInfo* SelectedServer() const;
  // A header click: the same column reverses, another sorts ascending.
  void ClickColumn(int column);
  // Stores a result message (kMsgIcmpResult or kMsgUdpResult); returns the
  // row whose speed cell changed, or -1. A server neither probe reached is
  // set back to "to be tested" and queued again.
  int OnSpeedResult(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  // Measures the open tab's servers again.
  void Remeasure();

 private:
  void Sort();

  VpnServerMap servers_;
  CSpeedTest& speedTest_;
  std::vector<CategoryTab> tabs_;
  int openTab_ = -1;
  std::vector<ServerRow> rows_;
  int selectedRow_ = -1;
  int sortColumn_ = 0;
  int sortDirection_ = 1;
};

// What the Connect button decided.
enum class ConnectOutcome {
  Connect,          // close with OK; stop the speed test first
  NoRoute,          // YouHavenotChosenVpnRoute; stay open
  NeedFullVersion,  // ask AcceleratorModuleIsNotRegisteredGetFullVersion (Yes/No); stay open
  NoServer,         // YouHavenotChosenVpnServer; stay open
  // BindModuleCannotBeLoaded; stay open. Per application the module is the
  // only way anything is routed: without it the tunnel would carry nothing.
  BindModuleUnusable,
};

struct ConnectCheck {
  ConnectOutcome outcome = ConnectOutcome::NoRoute;
  const char* messageKey = nullptr;  // text to show, null for Connect
  // Settings to write: the route as soon as the route passes its checks,
  // the rest only on Connect.
  bool writeRoute = false;
  std::int32_t lastVpnRouteDefiner = 0;
  std::int32_t lastVpnRouteInternalIndex = 0;
  bool writeServer = false;
  std::int32_t lastVpnServerId = -1;
  std::int32_t lastVpnTabGroupIndex = 0;
  std::int32_t vpnType = 0;
  // Handed to the main window on Connect.
  VpnRouteChoice route;
  VpnServerInfo server;
};

// `bindModuleUsable`: the module beside the executable is there and loads
// with its exports (it may still be unregistered).
ConnectCheck CheckConnect(const std::vector<RouteRow>& routes, int selectedRoute, bool bindModuleActive,
                          const VpnServerInfo* selectedServer, int openTab, const TypeBoxes& boxes,
                          bool bindModuleUsable = true);
