#include "servers/policy_chooser.h"

#include <algorithm>

#include "account/reply_document.h"
#include "servers/server_columns.h"
#include "text/text_table.h"
#include "platform/text_parse.h"

namespace {

std::wstring Trim(const std::wstring& text) { return std::wstring(TrimAsciiSpace(std::wstring_view(text))); }

const wchar_t* SectionOf(std::int32_t definer) {
  return definer == kRouteDefinerListed ? L"Routes" : L"CustomRoutes";
}

void AddSectionRows(const std::wstring& replyPath, std::int32_t definer, std::vector<RouteRow>& rows) {
  for (std::int32_t i = 0;; ++i) {
    std::wstring title = Trim(IniReadText(replyPath, SectionOf(definer), L"Title" + std::to_wstring(i)));
    if (title.empty()) return;
    rows.push_back({{definer, i}, std::move(title)});
  }
}

struct KnownCategory {
  const wchar_t* key;
  const char* textKey;
  const wchar_t* flag;
};
const KnownCategory kKnownCategories[] = {
    {L"china", "VpnServerCategoryChina", L"FlagChina"},
    {L"usa", "VpnServerCategoryUSA", L"FlagUSA"},
    {L"asia", "VpnServerCategoryAsia", L"FlagAsia"},
};

}  // namespace

std::vector<RouteRow> BuildRouteRows(const std::wstring& replyPath) {
  std::vector<RouteRow> rows;
  if (IniReadInt(replyPath, L"Routes", L"HideDefaultRoutes", 0) == 0) {
    rows.push_back({{kRouteDefinerAll, 0}, GetText("VpnRouteForAll")});
    rows.push_back({{kRouteDefinerPerApp, 0}, GetText("VpnRouteForApp")});
  }
  AddSectionRows(replyPath, kRouteDefinerListed, rows);
  AddSectionRows(replyPath, kRouteDefinerCustom, rows);
  return rows;
}

int RouteRowToSelect(const std::vector<RouteRow>& rows, std::int32_t lastDefiner, std::int32_t lastInternalIndex) {
  if (rows.empty()) return -1;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const VpnRouteChoice& c = rows[r].choice;
    if (c.definer != lastDefiner) continue;
    if ((c.definer == kRouteDefinerListed || c.definer == kRouteDefinerCustom) && c.internalIndex != lastInternalIndex)
      continue;
    return static_cast<int>(r);
  }
  return 0;
}

std::wstring RouteTip(const std::wstring& replyPath, const std::vector<RouteRow>& rows, int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return GetText("VpnRoutesTipPleaseSelect");
  const VpnRouteChoice& c = rows[row].choice;
  switch (c.definer) {
    case kRouteDefinerAll:
      return GetText("VpnRouteForAll") + L": " + GetText("VpnRoutesTipForAll");
    case kRouteDefinerPerApp:
      return GetText("VpnRouteForApp") + L": " + GetText("VpnRoutesTipForApp");
    default: {
      const std::wstring index = std::to_wstring(c.internalIndex);
      return IniReadText(replyPath, SectionOf(c.definer), L"Title" + index) + L": " +
             IniReadText(replyPath, SectionOf(c.definer), L"Comment" + index);
    }
  }
}

RouteLayout LayoutForRoute(const std::vector<RouteRow>& rows, int row) {
  const bool perApp =
      row >= 0 && static_cast<std::size_t>(row) < rows.size() && rows[row].choice.definer == kRouteDefinerPerApp;
  return perApp ? RouteLayout{280, true} : RouteLayout{310, false};
}

std::vector<CategoryTab> BuildCategoryTabs(const VpnServerMap& servers) {
  const std::set<std::wstring> carried = CollectCategories(servers);
  std::vector<CategoryTab> tabs;
  for (const KnownCategory& known : kKnownCategories)
    if (carried.count(known.key) != 0) tabs.push_back({known.key, GetText(known.textKey), known.flag});
  return tabs;
}

int ClampTabIndex(std::int32_t remembered, std::size_t tabCount) {
  if (tabCount == 0) return -1;
  if (remembered < 0) return 0;
  if (static_cast<std::size_t>(remembered) >= tabCount) return static_cast<int>(tabCount) - 1;
  return remembered;
}

TypeBoxes InitialTypeBoxes(std::int32_t vpnType) {
  TypeBoxes boxes;
  if (vpnType >= kVpnTypeAuto && vpnType <= kVpnTypeOpenVpn) boxes.checked = vpnType;
  return boxes;
}

bool ApplyServerToTypeBoxes(const VpnServerInfo& server, TypeBoxes& boxes) {
  boxes.enabled[kVpnTypeAuto] = true;
  for (int type = kVpnTypePptp; type <= kVpnTypeOpenVpn; ++type) {
    boxes.enabled[type] = OffersVpnType(server, type);
    if (!boxes.enabled[type] && boxes.checked == type) boxes.checked = -1;
  }
  return server.protocols.empty();
}

std::int32_t ChosenVpnType(const TypeBoxes& boxes) {
  std::int32_t type = kVpnTypeAuto;
  for (int t = kVpnTypePptp; t <= kVpnTypeOpenVpn; ++t)
    if (boxes.checked == t && boxes.enabled[t]) type = t;
  return type;
}

namespace {

ServerRow MakeServerRow(std::int32_t id, const VpnServerInfo& server) {
  ServerRow row;
  row.id = id;
  row.cells[0] = server.title;
  row.cells[1] = server.comment;
  row.cells[2] = SpeedSummary(server);
  row.cells[3] = LoadText(server.load);
  return row;
}

}  // namespace

CServerChooser::CServerChooser(VpnServerMap servers, CSpeedTest& speedTest)
    : servers_(std::move(servers)), speedTest_(speedTest), tabs_(BuildCategoryTabs(servers_)) {}

void CServerChooser::SetUp(const ChooserMemory& memory) {
  openTab_ = ClampTabIndex(memory.lastVpnTabGroupIndex, tabs_.size());
  Fill(memory.lastVpnServerId);
}

void CServerChooser::ChangeTab(int tab) {
  if (tab < -1 || tab >= static_cast<int>(tabs_.size())) return;
  openTab_ = tab;
  Fill(-1);
}

void CServerChooser::Fill(std::int32_t selectId) {
  if (selectId == -1 && selectedRow_ >= 0) selectId = rows_[selectedRow_].id;
  rows_.clear();
  selectedRow_ = -1;
  {
    auto queues = speedTest_.LockQueues();
    queues->icmp.clear();
    queues->udp.clear();
    const std::wstring* key = openTab_ >= 0 ? &tabs_[openTab_].key : nullptr;
    for (auto& [id, server] : servers_) {
      if (key == nullptr || server.categories.count(*key) == 0) {
        server.row = -1;
        continue;
      }
      server.row = static_cast<std::int32_t>(rows_.size());
      rows_.push_back(MakeServerRow(id, server));
    }
    QueueUntested(servers_, *queues);
  }
  Sort();
  if (selectId == -1) return;
  const auto found = servers_.find(selectId);
  if (found != servers_.end() && found->second.row >= 0) selectedRow_ = found->second.row;
}

void CServerChooser::Sort() {
  const std::int32_t selectedId = selectedRow_ >= 0 ? rows_[selectedRow_].id : 0;
  const bool hadSelection = selectedRow_ >= 0;
  std::vector<std::int32_t> ids;
  ids.reserve(rows_.size());
  for (const ServerRow& row : rows_) ids.push_back(row.id);
  SortServerIds(ids, servers_, sortColumn_, sortDirection_);
  // Every result keeps its row's text current, so a sort only moves rows:
  // building a thousand rows' texts again was most of a header click.
  std::vector<ServerRow> sorted;
  sorted.reserve(rows_.size());
  selectedRow_ = -1;
  for (std::int32_t id : ids) {
    VpnServerInfo& server = servers_.at(id);
    sorted.push_back(std::move(rows_[static_cast<std::size_t>(server.row)]));
    server.row = static_cast<std::int32_t>(sorted.size() - 1);
    if (hadSelection && id == selectedId) selectedRow_ = server.row;
  }
  rows_ = std::move(sorted);
}

const VpnServerInfo* CServerChooser::SelectRow(int row) {
  selectedRow_ = row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? row : -1;
  return SelectedServer();
}

const VpnServerInfo* CServerChooser::SelectedServer() const {
  if (selectedRow_ < 0) return nullptr;
  return &servers_.at(rows_[selectedRow_].id);
}

void CServerChooser::ClickColumn(int column) {
  if (column < 0 || column > 3) return;
  if (column == sortColumn_) {
    sortDirection_ = -sortDirection_;
  } else {
    sortColumn_ = column;
    sortDirection_ = 1;
  }
  Sort();
}

int CServerChooser::OnSpeedResult(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message != kMsgIcmpResult && message != kMsgUdpResult) return -1;
  const auto id = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
  const auto found = servers_.find(id);
  if (found == servers_.end()) return -1;
  VpnServerInfo& server = found->second;
  (message == kMsgIcmpResult ? server.icmpResult : server.udpResult) = static_cast<std::int32_t>(lParam);
  if (server.icmpResult == kSpeedTimeout && server.udpResult == kSpeedTimeout) {
    server.icmpResult = kSpeedToBeTested;
    server.udpResult = kSpeedToBeTested;
    auto queues = speedTest_.LockQueues();
    queues->udp.push_back(server);
    queues->icmp.push_back(server);
  }
  if (server.row < 0 || static_cast<std::size_t>(server.row) >= rows_.size()) return -1;
  rows_[server.row].cells[2] = SpeedSummary(server);
  return server.row;
}

void CServerChooser::Remeasure() {
  {
    auto queues = speedTest_.LockQueues();
    queues->icmp.clear();
    queues->udp.clear();
    for (auto& [id, server] : servers_) {
      if (server.row < 0) continue;
      server.icmpResult = kSpeedToBeTested;
      server.udpResult = kSpeedToBeTested;
    }
  }
  Fill(-1);
}

ConnectCheck CheckConnect(const std::vector<RouteRow>& routes, int selectedRoute, bool bindModuleActive,
                          const VpnServerInfo* selectedServer, int openTab, const TypeBoxes& boxes,
                          bool bindModuleUsable) {
  ConnectCheck check;
  if (selectedRoute < 0 || static_cast<std::size_t>(selectedRoute) >= routes.size()) {
    check.outcome = ConnectOutcome::NoRoute;
    check.messageKey = "YouHavenotChosenVpnRoute";
    return check;
  }
  check.route = routes[selectedRoute].choice;
  if (check.route.definer == kRouteDefinerPerApp && !bindModuleActive && !bindModuleUsable) {
    check.outcome = ConnectOutcome::BindModuleUnusable;
    check.messageKey = "BindModuleCannotBeLoaded";
    return check;
  }
  if (check.route.definer == kRouteDefinerPerApp && !bindModuleActive) {
    check.outcome = ConnectOutcome::NeedFullVersion;
    check.messageKey = "AcceleratorModuleIsNotRegisteredGetFullVersion";
    return check;
  }
  check.writeRoute = true;
  check.lastVpnRouteDefiner = check.route.definer;
  check.lastVpnRouteInternalIndex = check.route.internalIndex;
  if (selectedServer == nullptr) {
    check.outcome = ConnectOutcome::NoServer;
    check.messageKey = "YouHavenotChosenVpnServer";
    return check;
  }
  check.server = *selectedServer;
  check.writeServer = true;
  check.lastVpnServerId = selectedServer->id;
  check.lastVpnTabGroupIndex = openTab;
  check.vpnType = ChosenVpnType(boxes);
  check.outcome = ConnectOutcome::Connect;
  return check;
}
