#include "servers/policy_view_logic.h"

#include "account/settings.h"
#include "text/text_table.h"

namespace {

constexpr wchar_t kSection[] = L"Main";
constexpr PolicyRect kTabPlace{150, 50, 690, 250};

}  // namespace

PolicyRect PolicyTabRect(const RouteLayout& layout) {
  return {kTabPlace.left, kTabPlace.top, kTabPlace.right, kTabPlace.top + layout.tabHeight};
}

SpeedCellPlace PlaceSpeedCell(const PolicyRect& cell, int iconWidth, int iconHeight) {
  const int left = cell.left + 1;
  const int right = cell.right - 2;
  const int top = cell.top + (cell.bottom - cell.top - iconHeight) / 2;
  SpeedCellPlace place;
  place.icon = {left, top, left + iconWidth, top + iconHeight};
  place.text = {place.icon.right + 4, cell.top, right, cell.bottom};
  return place;
}

std::wstring RouteHoverTip(const std::wstring& replyPath, const std::vector<RouteRow>& rows, int hoverRow,
                           int selectedRow) {
  const bool onRow = hoverRow >= 0 && static_cast<std::size_t>(hoverRow) < rows.size();
  return RouteTip(replyPath, rows, onRow ? hoverRow : selectedRow);
}

std::wstring VpnTypeTip(int type) {
  static const char* const kKeys[] = {"VpnTypeAutoTip", "VpnTypePptpTip", "VpnTypeL2tpTip", "VpnTypeOpenVpnTip"};
  if (type < kVpnTypeAuto || type > kVpnTypeOpenVpn) return L"";
  return GetText(kKeys[type]);
}

std::wstring ServerListNotice(std::size_t rowCount) {
  return rowCount == 0 ? GetText("VpnServersInMaintenance") : std::wstring();
}

ChooserMemory ReadChooserMemory() {
  ChooserMemory memory;
  memory.lastVpnRouteDefiner = GetSettingInt(kSection, L"LastVpnRouteDefiner", 0);
  memory.lastVpnRouteInternalIndex = GetSettingInt(kSection, L"LastVpnRouteInternalIndex", 0);
  memory.lastVpnTabGroupIndex = GetSettingInt(kSection, L"LastVpnTabGroupIndex", 0);
  memory.lastVpnServerId = GetSettingInt(kSection, L"LastVpnServerId", -1);
  memory.vpnType = GetSettingInt(kSection, L"VpnType", 0);
  return memory;
}

void WriteChooserMemory(const ConnectCheck& check) {
  if (check.writeRoute) {
    SetSettingInt(kSection, L"LastVpnRouteDefiner", check.lastVpnRouteDefiner);
    SetSettingInt(kSection, L"LastVpnRouteInternalIndex", check.lastVpnRouteInternalIndex);
  }
  if (check.writeServer) {
    SetSettingInt(kSection, L"LastVpnServerId", check.lastVpnServerId);
    SetSettingInt(kSection, L"LastVpnTabGroupIndex", check.lastVpnTabGroupIndex);
    SetSettingInt(kSection, L"VpnType", check.vpnType);
  }
}

void CPolicyDialogController::SetUp() {
  const ChooserMemory memory = ReadChooserMemory();
  routes_ = BuildRouteRows(replyPath_);
  view_.SetRouteRows(routes_);
  selectedRoute_ = RouteRowToSelect(routes_, memory.lastVpnRouteDefiner, memory.lastVpnRouteInternalIndex);
  if (selectedRoute_ >= 0) view_.SelectRouteRow(selectedRoute_);
  view_.SetTip(SelectedRouteTip());
  boxes_ = InitialTypeBoxes(memory.vpnType);
  chooser_.SetUp(memory);
  // The restored server's types apply as if the user had chosen it; the
  // window is not shown yet, so a server without types says nothing here.
  if (const VpnServerInfo* server = chooser_.SelectedServer()) ApplyServerToTypeBoxes(*server, boxes_);
  view_.SetTypeBoxes(boxes_);
  view_.SetTabs(chooser_.Tabs(), chooser_.OpenTab());
  ShowRows();
  view_.SetRouteLayout(LayoutForRoute(routes_, selectedRoute_));
  view_.StartSpeedTest();
}

std::wstring CPolicyDialogController::SelectedRouteTip() const { return RouteTip(replyPath_, routes_, selectedRoute_); }

void CPolicyDialogController::RouteSelected(int row) {
  selectedRoute_ = row >= 0 && static_cast<std::size_t>(row) < routes_.size() ? row : -1;
  view_.SetRouteLayout(LayoutForRoute(routes_, selectedRoute_));
  view_.SetTip(SelectedRouteTip());
}

void CPolicyDialogController::RouteHover(int row) {
  view_.SetTip(RouteHoverTip(replyPath_, routes_, row, selectedRoute_));
}

void CPolicyDialogController::RouteLeave() { view_.SetTip(SelectedRouteTip()); }

void CPolicyDialogController::TypeHover(int type) {
  const std::wstring tip = VpnTypeTip(type);
  if (!tip.empty()) view_.SetTip(tip);
}

void CPolicyDialogController::TypeLeave() { view_.SetTip(SelectedRouteTip()); }

void CPolicyDialogController::TypeClicked(int type) {
  if (type < kVpnTypeAuto || type > kVpnTypeOpenVpn || !boxes_.enabled[type]) return;
  boxes_.checked = type;
}

void CPolicyDialogController::ShowRows() {
  view_.SetServerRows(chooser_.Rows(), chooser_.SelectedRow(), ServerListNotice(chooser_.Rows().size()));
}

void CPolicyDialogController::TabChanged(int tab) {
  chooser_.ChangeTab(tab);
  ShowRows();
}

void CPolicyDialogController::ServerSelected(int row) {
  const VpnServerInfo* server = chooser_.SelectRow(row);
  if (server == nullptr) return;
  const bool offersNothing = ApplyServerToTypeBoxes(*server, boxes_);
  view_.SetTypeBoxes(boxes_);
  if (offersNothing) view_.ShowMessage(GetText("ChosenVpnServerHaveNoVpnTypeTryAnother"), PolicyIcon::Information);
}

void CPolicyDialogController::ColumnClicked(int column) {
  chooser_.ClickColumn(column);
  ShowRows();
}

bool CPolicyDialogController::SpeedResult(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message != kMsgIcmpResult && message != kMsgUdpResult) return false;
  const int row = chooser_.OnSpeedResult(message, wParam, lParam);
  if (row >= 0) view_.SetSpeedCell(row, chooser_.Rows()[row].cells[2]);
  return true;
}

void CPolicyDialogController::Remeasure() {
  chooser_.Remeasure();
  ShowRows();
}

void CPolicyDialogController::Connect() {
  ConnectCheck check = CheckConnect(routes_, selectedRoute_, view_.BindModuleActive(), chooser_.SelectedServer(),
                                    chooser_.OpenTab(), boxes_, view_.BindModuleUsable());
  if (check.outcome == ConnectOutcome::NeedFullVersion) {
    // The file is there but not in the catalog (start-up's registration
    // failed, or someone removed it): try once more while the user waits.
    if (view_.RegisterBindModule() != 0) {
      const std::wstring failed = GetText("BindModuleRegistrationFailed");
      view_.SetTip(failed);
      view_.ShowMessage(failed, PolicyIcon::Warning);
      return;
    }
    check = CheckConnect(routes_, selectedRoute_, view_.BindModuleActive(), chooser_.SelectedServer(),
                         chooser_.OpenTab(), boxes_, view_.BindModuleUsable());
  }
  WriteChooserMemory(check);
  switch (check.outcome) {
    case ConnectOutcome::NoRoute:
    case ConnectOutcome::NoServer:
      view_.ShowMessage(GetText(check.messageKey), PolicyIcon::Information);
      return;
    case ConnectOutcome::BindModuleUnusable:
      view_.ShowMessage(GetText(check.messageKey), PolicyIcon::Warning);
      return;
    case ConnectOutcome::NeedFullVersion:
      if (view_.AskYesNo(GetText(check.messageKey))) view_.StartFullUpdateAndExit();
      return;
    case ConnectOutcome::Connect:
      break;
  }
  confirmed_ = true;
  result_ = check;
  view_.StopSpeedTest();
  view_.Close(true);
}

void CPolicyDialogController::Cancel() {
  view_.StopSpeedTest();
  view_.Close(false);
}
