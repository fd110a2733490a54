#include "dialogs/vpn_server_list_ctrl_win.h"

#include "servers/policy_view_logic.h"
#include "servers/server_columns.h"
#include "text/text_table.h"

namespace {

CSkinAttributes& Skin() { return GetSkinAttributes(); }

}  // namespace

bool CVpnServerListCtrl::Create(HWND parent, const RECT& rect, int id) {
  if (!CSkinListCtrl::Create(parent, rect, WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                             id))
    return false;
  ::SendMessageW(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // One blank 16 by 16 image: the rows get an icon's height, and a list with
  // one image draws none. The list destroys it with itself.
  images_ = ::ImageList_Create(16, 16, ILC_COLOR32, 1, 1);
  ::SendMessageW(Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
  // "Response Speed" needs more than 75 pixels in the dialog's font; the
  // comment column gives up the difference.
  const std::pair<const char*, int> columns[] = {
      {"ServerName", 100}, {"ServerComment", 270}, {"ServerSpeed", 100}, {"ServerLoad", 46}};
  int index = 0;
  for (const auto& [key, width] : columns) InsertColumn(index++, GetText(key), width);
  return true;
}

void CVpnServerListCtrl::SetRows(const std::vector<ServerRow>& rows, int selected, const std::wstring& notice) {
  filling_ = true;
  notice_ = notice;
  ::SendMessageW(Handle(), WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(Handle(), LVM_DELETEALLITEMS, 0, 0);
  ::SendMessageW(Handle(), LVM_SETITEMCOUNT, rows.size(), 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const int item = InsertItem(static_cast<int>(r), rows[r].cells[0], rows[r].id);
    for (int c = 1; c < 4; ++c) SetItemText(item, c, rows[r].cells[c]);
  }
  if (selected >= 0) {
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(Handle(), LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&lv));
    ::SendMessageW(Handle(), LVM_SETSELECTIONMARK, 0, selected);
  }
  ::SendMessageW(Handle(), WM_SETREDRAW, TRUE, 0);
  if (selected >= 0) ::SendMessageW(Handle(), LVM_ENSUREVISIBLE, selected, FALSE);
  LayoutScrollBars(false);
  Invalidate(true);
  filling_ = false;
}

void CVpnServerListCtrl::SetSpeedCell(int row, const std::wstring& text) {
  SetItemText(row, 2, text);
  ::SendMessageW(Handle(), LVM_REDRAWITEMS, row, row);
}

void CVpnServerListCtrl::SortByColumn(int column) {
  if (onColumnClick) onColumnClick(column);
}

void CVpnServerListCtrl::DrawSubItem(int item, int column, HDC surface) {
  if (column != 2) {
    CSkinListCtrl::DrawSubItem(item, column, surface);
    return;
  }
  ListCellContext cell;
  if (!CellContext(item, column, surface, cell)) return;
  DrawCellBackground(surface, cell);
  wchar_t buffer[256] = {};
  LVITEMW lv{};
  lv.iSubItem = 2;
  lv.pszText = buffer;
  lv.cchTextMax = 256;
  ::SendMessageW(Handle(), LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
  const std::wstring text = buffer;
  const SpeedCellLook look = LookOfSpeedCell(text);
  const SkinCell& icon = Skin().GetCell(look.image);
  const SpeedCellPlace place =
      PlaceSpeedCell({cell.cell.left, cell.cell.top, cell.cell.right, cell.cell.bottom}, icon.Width(), icon.Height());
  Skin().DrawCell(surface, icon, kCellNaturalSize, place.icon.left, place.icon.top, place.icon.left, place.icon.top);
  RECT t{place.text.left, place.text.top, place.text.right, place.text.bottom};
  ::SetBkMode(surface, TRANSPARENT);
  ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &t,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX |
                  (look.align == CellAlign::Right ? DT_RIGHT : DT_LEFT));
}

void CVpnServerListCtrl::DrawEmpty(HDC surface, const RECT& client) {
  HGDIOBJ old = ::SelectObject(surface, reinterpret_cast<HFONT>(::SendMessageW(::GetParent(Handle()), WM_GETFONT, 0, 0)));
  ::SetBkMode(surface, TRANSPARENT);
  ::SetTextColor(surface, static_cast<COLORREF>(kPolicyNoticeColor));
  RECT r = client;
  ::DrawTextW(surface, notice_.c_str(), static_cast<int>(notice_.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  ::SelectObject(surface, old);
}

bool CVpnServerListCtrl::OnNotifyReflect(const NMHDR& nm, LRESULT& result) {
  if (nm.code == LVN_ITEMCHANGED) {
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(nm);
    const bool nowSelected = (change.uNewState & LVIS_SELECTED) && !(change.uOldState & LVIS_SELECTED);
    if (!filling_ && nowSelected && change.iItem >= 0 && onSelected) onSelected(change.iItem);
    result = 0;
    return true;
  }
  return CSkinListCtrl::OnNotifyReflect(nm, result);
}
