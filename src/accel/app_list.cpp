#include "accel/app_list.h"

#include "account/reply_document.h"
#include "account/settings.h"
#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

constexpr wchar_t kAppFullname[] = L"AppFullname";
constexpr wchar_t kUseAsyncMode[] = L"UseAsyncMode";
constexpr wchar_t kForceWspBind[] = L"ForceWSPBind";
constexpr wchar_t kActive[] = L"Active";

bool EndsWithNoCase(const std::wstring& text, std::wstring_view suffix) {
  return text.size() >= suffix.size() && EqualsNoCaseAscii(std::wstring_view(text).substr(text.size() - suffix.size()), suffix);
}

}  // namespace

std::wstring AppListPath() {
  static const std::wstring path = ProgramDataFolder() + L"applist.ini";
  return path;
}

CAppList::CAppList(IShortcutResolver& resolver, IAppLauncher& launcher, ISystemImageList& images, std::wstring path)
    : resolver_(resolver), launcher_(launcher), images_(images), path_(std::move(path)) {}

int CAppList::AddApplication(IAppRows& rows, const std::wstring& path, int mode) {
  std::wstring target = path;
  if (EndsWithNoCase(path, L".lnk")) {
    target.clear();
    if (!resolver_.ResolveShortcutTarget(path, target)) return -1;
  }
  const std::size_t slash = path.rfind(L'\\');
  if (target.empty() || !EndsWithNoCase(target, L".exe") || slash == std::wstring::npos) return -1;

  if (mode == kAppListModeAdd) {
    IniWriteString(path_, path, kAppFullname, target);
    IniWriteInt(path_, path, kUseAsyncMode, 0);
    IniWriteInt(path_, path, kForceWspBind, 0);
  }
  IniWriteInt(path_, path, kActive, 0);

  auto item = std::make_unique<VpnAppItem>();
  item->name = path.substr(slash + 1);
  item->active = IniReadInt(path_, path, kActive, 0);
  item->key = path;
  const int image = images_.ImageIndexFor(item->name);
  const int row = rows.AppendRow(std::move(item), image);
  if (row < 0) return -1;
  rows.SetCellText(row, 2, IniReadString(path_, path, kAppFullname, L""));
  return row;
}

void CAppList::LoadAppList(IAppRows& rows) {
  for (const std::wstring& key : IniListSections(path_)) AddApplication(rows, key, kAppListModeLoad);
}

void CAppList::RemoveSelectedApplications(IAppRows& rows) {
  // Backwards, so that deleting a row leaves the indices still to visit.
  for (int row = rows.RowCount(); row-- > 0;) {
    if (!rows.IsSelected(row)) continue;
    if (VpnAppItem* item = rows.Item(row)) IniDeleteSection(path_, item->key);
    rows.DeleteRow(row);
  }
  rows.Repaint();
}

void CAppList::Activate(IAppRows& rows, int row) {
  VpnAppItem* item = rows.Item(row);
  if (!item) return;
  IniWriteInt(path_, item->key, kActive, 1);
  item->active = 1;
  rows.RedrawRow(row);
}

std::vector<std::wstring> CAppList::ActivateSelectedApplications(IAppRows& rows) {
  std::vector<std::wstring> keys;
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (!rows.IsSelected(row) || !rows.Item(row)) continue;
    Activate(rows, row);
    keys.push_back(rows.Item(row)->key);
  }
  return keys;
}

std::wstring CAppList::ActivateFirstSelected(IAppRows& rows) {
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (!rows.IsSelected(row) || !rows.Item(row)) continue;
    Activate(rows, row);
    return rows.Item(row)->key;
  }
  return {};
}

void CAppList::SetBindOptions(IAppRows& rows, bool useAsyncMode, bool forceWspBind) {
  for (int row = 0; row < rows.RowCount(); ++row) {
    if (!rows.IsSelected(row)) continue;
    VpnAppItem* item = rows.Item(row);
    if (!item) continue;
    IniWriteInt(path_, item->key, kUseAsyncMode, useAsyncMode ? 1 : 0);
    IniWriteInt(path_, item->key, kForceWspBind, forceWspBind ? 1 : 0);
  }
}

void CAppList::LaunchApplication(void* owner, const std::wstring& key) {
  if (!launcher_.LaunchThroughDesktopShell(key)) launcher_.LaunchDirect(owner, key);
}
