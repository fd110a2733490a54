#include "accel/accelerate_controller.h"

#include "account/reply_document.h"
#include "text/text_table.h"

namespace {

constexpr std::uint32_t Rgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}
constexpr std::uint32_t kActiveColor = Rgb(79, 125, 78);
constexpr std::uint32_t kInactiveColor = Rgb(102, 102, 102);
constexpr std::uint32_t kBlack = Rgb(0, 0, 0);

const char* const kTipKeys[kAccelTipCount] = {"VpnAppUsageTip1", "VpnAppUsageTip2", "VpnAppUsageTip3"};

}  // namespace

BindOptions ReadBindOptionsFromListFile(const std::wstring& listPath, const std::wstring& key) {
  BindOptions options;
  options.useAsyncMode = IniReadInt(listPath, key, L"UseAsyncMode", 0) != 0;
  options.forceWspBind = IniReadInt(listPath, key, L"ForceWSPBind", 0) != 0;
  return options;
}

std::vector<std::wstring> SplitDialogFilter(const std::wstring& filter) {
  std::vector<std::wstring> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = filter.find(L'|', start);
    const std::wstring piece = filter.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start);
    // An empty description ends the list ("||").
    if (pieces.size() % 2 == 0 && piece.empty()) break;
    pieces.push_back(piece);
    if (bar == std::wstring::npos) break;
    start = bar + 1;
  }
  if (pieces.size() % 2 != 0) pieces.pop_back();
  return pieces;
}

void CAccelerateController::SetUp() {
  tip_ = 0;
  view_.SetTip(GetText(kTipKeys[0]));
}

void CAccelerateController::Shown(Tick now) {
  if (visible_) return;
  visible_ = true;
  tipDue_ = now + kAccelTipPeriodMs;
  view_.ArmTipTimer(kAccelTipPeriodMs);
}

void CAccelerateController::Hidden() {
  visible_ = false;
  view_.ArmTipTimer(0);
}

void CAccelerateController::TipTimer(Tick now) {
  if (!visible_) return;
  const auto early = static_cast<std::int32_t>(tipDue_ - now);
  if (early > 0) {
    view_.ArmTipTimer(static_cast<std::uint32_t>(early));
    return;
  }
  tip_ = (tip_ + 1) % kAccelTipCount;
  view_.SetTip(GetText(kTipKeys[tip_]));
  tipDue_ += kAccelTipPeriodMs;
  // After a long stall the next tip comes a full period on, not at once.
  if (static_cast<std::int32_t>(tipDue_ - now) <= 0) tipDue_ = now + kAccelTipPeriodMs;
  view_.ArmTipTimer(tipDue_ - now);
}

bool CAccelerateController::Command(int id) {
  switch (id) {
    case kCmdAccelHelp:
      view_.ShowMessage(GetText("VpnAppUsageHelp"), AccelIcon::Information);
      return true;
    case kCmdAccelActivate:
      apps_.ActivateSelectedApplications();
      return true;
    case kCmdAccelActivateAndRun:
      ActivateAndRun();
      return true;
    case kCmdAccelDone:
      view_.HideWithMainWindow();
      return true;
    case kCmdAccelAddFromUserStartMenu:
      AddFromFolder(AccelFolder::UserStartMenu);
      return true;
    case kCmdAccelAddFromCommonStartMenu:
      AddFromFolder(AccelFolder::CommonStartMenu);
      return true;
    case kCmdAccelAddFromProgramFiles:
      AddFromFolder(AccelFolder::ProgramFiles);
      return true;
    case kCmdAccelModifyRule:
      ModifyRule();
      return true;
    case kCmdAccelRemove:
      apps_.RemoveSelectedApplications();
      return true;
    default:
      return false;
  }
}

void CAccelerateController::ActivateAndRun() {
  const std::vector<std::wstring> keys = apps_.ActivateSelectedApplications();
  if (keys.empty()) {
    view_.ShowMessage(GetText("YouHavenotChosenVpnApp"), AccelIcon::Information);
    return;
  }
  for (const std::wstring& key : keys) apps_.LaunchApplication(key);
}

void CAccelerateController::AddFromFolder(AccelFolder folder) {
  std::wstring path;
  if (!view_.ChooseFile(view_.FolderPath(folder), SplitDialogFilter(GetText("AddAcceleratedAppFileDialogFilter")),
                        path))
    return;
  const int row = apps_.AddApplication(path);
  if (row >= 0)
    view_.RevealRow(row);
  else
    view_.ShowMessage(GetText("MustBeShortcutOrEXE"), AccelIcon::Warning);
}

void CAccelerateController::ModifyRule() {
  const std::vector<std::wstring> keys = apps_.SelectedKeys();
  if (keys.empty()) return;
  BindOptions options = apps_.ReadBindOptions(keys.front());
  if (view_.RunBindSettings(options)) apps_.SetBindOptions(options);
}

void CAccelerateController::DoubleClick() {
  const std::wstring key = apps_.ActivateFirstSelected();
  if (!key.empty()) apps_.LaunchApplication(key);
}

void CAccelerateController::ContextMenu(int screenX, int screenY) {
  const int command = view_.TrackContextMenu(screenX, screenY);
  // The menu holds only the add, modify and remove commands.
  if (command == kCmdAccelAddFromUserStartMenu || command == kCmdAccelAddFromCommonStartMenu ||
      command == kCmdAccelAddFromProgramFiles || command == kCmdAccelModifyRule || command == kCmdAccelRemove)
    Command(command);
}

void CAccelerateController::FilesDropped(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return;
  bool anyRefused = false;
  int lastRow = -1;
  for (const std::wstring& path : paths) {
    lastRow = apps_.AddApplication(path);
    if (lastRow < 0) anyRefused = true;
  }
  if (lastRow >= 0) view_.RevealRow(lastRow);
  if (anyRefused) view_.ShowMessage(GetText("MustBeShortcutOrEXE"), AccelIcon::Warning);
}

std::wstring CBindSettingsModel::Title() { return L"Quillnet" + GetText("AcceleratedAppSetting"); }

std::wstring CBindSettingsModel::BoxText(int box) {
  return GetText(box == 0 ? "VpnBindUseAsyncMode" : "VpnBindForceWSPBind");
}

AppStatusLook LookOfAppStatus(bool active) {
  AppStatusLook look;
  look.icon = active ? L"IconVpnAppStatusActive" : L"IconVpnAppStatusInactive";
  look.text = GetText(active ? "VpnAppStatusActive" : "VpnAppStatusInactive");
  look.color = active ? kActiveColor : kInactiveColor;
  return look;
}

std::uint32_t AppCellTextColor(int column, bool active, bool firstSelected) {
  if (column == 0) return kBlack;
  if (column == 1) return active ? kActiveColor : kInactiveColor;
  if (firstSelected) return kBlack;
  return active ? kActiveColor : kInactiveColor;
}

std::vector<AppListNoticeLine> AppListEmptyNotice(int listHeight) {
  const int middle = listHeight / 2;
  return {{GetText("DragAppToThisListMsg1"), middle - 20}, {GetText("DragAppToThisListMsg2"), middle}};
}

std::vector<AppListColumn> AppListColumns() {
  return {{GetText("Application"), 150}, {GetText("ApplicationIsUsingVPN"), 60}, {GetText("ProgramPath"), 370}};
}

int CompareAppRows(const std::wstring& nameA, const std::wstring& keyA, const std::wstring& nameB,
                   const std::wstring& keyB, int column, int direction, TextCompare compareNoCase) {
  if (column == 0) return compareNoCase(nameA, nameB) * direction;
  if (column == 1) return compareNoCase(keyA, keyB) * direction;
  return 0;
}
