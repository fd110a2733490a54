#include "dialogs/vpn_app_list_ctrl_win.h"

#include <shellapi.h>

#include "accel/accelerate_controller.h"
#include "servers/server_columns.h"

namespace {

CSkinAttributes& Skin() { return GetSkinAttributes(); }

}  // namespace

CVpnAppListCtrl::~CVpnAppListCtrl() {
  if (Handle() && ::IsWindow(Handle())) DeleteAllRows();
}

bool CVpnAppListCtrl::Create(HWND parent, const RECT& rect, int id) {
  if (!CSkinListCtrl::Create(parent, rect, WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS |
                                               LVS_SHAREIMAGELISTS,
                             id, WS_EX_ACCEPTFILES))
    return false;
  const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
  ::SendMessageW(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
  // The system's large icons for both lists: rows as tall as a large icon.
  SHFILEINFOW info{};
  auto system = reinterpret_cast<HIMAGELIST>(
      ::SHGetFileInfoW(L".exe", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                       SHGFI_SYSICONINDEX | SHGFI_LARGEICON | SHGFI_USEFILEATTRIBUTES));
  ::SendMessageW(Handle(), LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(system));
  ::SendMessageW(Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(system));
  int index = 0;
  for (const AppListColumn& column : AppListColumns()) InsertColumn(index++, column.title, column.width);
  return true;
}

int CVpnAppListCtrl::AppendRow(std::unique_ptr<VpnAppItem> item, int image) {
  const std::wstring name = item->name;
  const std::wstring status = LookOfAppStatus(item->active != 0).text;
  const int row = InsertItem(ItemCount(), name, reinterpret_cast<LPARAM>(item.get()), image);
  if (row < 0) return -1;
  item.release();
  SetItemText(row, 1, status);
  return row;
}

void CVpnAppListCtrl::DeleteRow(int row) {
  delete Item(row);
  ::SendMessageW(Handle(), LVM_DELETEITEM, row, 0);
}

void CVpnAppListCtrl::DeleteAllRows() {
  for (int row = ItemCount(); row-- > 0;) delete Item(row);
  ::SendMessageW(Handle(), LVM_DELETEALLITEMS, 0, 0);
}

void CVpnAppListCtrl::RedrawRow(int row) {
  if (VpnAppItem* item = Item(row)) SetItemText(row, 1, LookOfAppStatus(item->active != 0).text);
  ::SendMessageW(Handle(), LVM_REDRAWITEMS, row, row);
}

int CVpnAppListCtrl::FirstSelected() const {
  return static_cast<int>(::SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CVpnAppListCtrl::DrawSubItem(int item, int column, HDC surface) {
  const VpnAppItem* entry = Item(item);
  const bool active = entry && entry->active != 0;
  if (column != 1) {
    ::SetTextColor(surface, static_cast<COLORREF>(AppCellTextColor(column, active, item == FirstSelected())));
    CSkinListCtrl::DrawSubItem(item, column, surface);
    return;
  }
  ListCellContext cell;
  if (!CellContext(item, column, surface, cell)) return;
  DrawCellBackground(surface, cell);
  const AppStatusLook look = LookOfAppStatus(active);
  const RECT& r = cell.cell;
  Skin().DrawCell(surface, Skin().GetCell(look.icon), kCellNaturalSize, r.left, r.top, r.left, r.top);
  RECT t{r.left, r.top + look.textOffsetY, r.right, r.bottom};
  ::SetBkMode(surface, TRANSPARENT);
  ::SetTextColor(surface, static_cast<COLORREF>(look.color));
  ::DrawTextW(surface, look.text.c_str(), static_cast<int>(look.text.size()), &t,
              DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

int CVpnAppListCtrl::CompareItems(LPARAM a, LPARAM b) {
  const auto* x = reinterpret_cast<const VpnAppItem*>(a);
  const auto* y = reinterpret_cast<const VpnAppItem*>(b);
  if (!x || !y) return 0;
  return CompareAppRows(x->name, x->key, y->name, y->key, sort.column, sort.direction, &CompareTextNoCase);
}

void CVpnAppListCtrl::DrawEmpty(HDC surface, const RECT& client) {
  HGDIOBJ old = ::SelectObject(surface, reinterpret_cast<HFONT>(::SendMessageW(::GetParent(Handle()), WM_GETFONT, 0, 0)));
  ::SetBkMode(surface, TRANSPARENT);
  ::SetTextColor(surface, static_cast<COLORREF>(kAppListNoticeColor));
  for (const AppListNoticeLine& line : AppListEmptyNotice(client.bottom - client.top)) {
    RECT r{client.left, client.top + line.top, client.right, client.bottom};
    ::DrawTextW(surface, line.text.c_str(), static_cast<int>(line.text.size()), &r, DT_CENTER | DT_TOP | DT_SINGLELINE);
  }
  ::SelectObject(surface, old);
}

void CVpnAppListCtrl::FilesDropped(const std::vector<std::wstring>& paths) {
  if (onFilesDropped) onFilesDropped(paths);
}

LRESULT CVpnAppListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DROPFILES: {
      auto drop = reinterpret_cast<HDROP>(wParam);
      std::vector<std::wstring> paths;
      const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
      for (UINT i = 0; i < count; ++i) {
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        ::DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(length);
        paths.push_back(std::move(path));
      }
      ::DragFinish(drop);
      FilesDropped(paths);
      return 0;
    }
    case WM_DESTROY:
      DeleteAllRows();
      break;
  }
  return CSkinListCtrl::WindowProc(message, wParam, lParam);
}
