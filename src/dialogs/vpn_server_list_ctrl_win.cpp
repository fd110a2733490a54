#include "dialogs/vpn_server_list_ctrl_win.h"

#include <algorithm>

#include "servers/policy_view_logic.h"
#include "servers/server_columns.h"
#include "text/text_table.h"

namespace {

CSkinAttributes& Skin() { return GetSkinAttributes(); }

}  // namespace

bool CVpnServerListCtrl::Create(HWND parent, const RECT& rect, int id) {
  // Owner data: the chooser hands over whole lists of rows (every sort, every
  // tab), and a thousand inserted items cost the platform half a second.
  if (!CSkinListCtrl::Create(parent, rect,
                             WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA,
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
  const std::size_t before = rows_.size();
  rows_ = rows;
  // Clearing item -1 visits every row of the platform's list, and so does a
  // new count; a resort of a thousand rows spent most of its click there. A
  // single-selection list has one selected and one focused row at most, and
  // the same rows in a new order keep their count.
  LVITEMW none{};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  for (const UINT which : {LVNI_SELECTED, LVNI_FOCUSED}) {
    const LRESULT item = ::SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), which);
    if (item >= 0) ::SendMessageW(Handle(), LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&none));
  }
  if (rows_.size() != before || ItemCount() != static_cast<int>(rows_.size()))
    ::SendMessageW(Handle(), LVM_SETITEMCOUNT, rows_.size(), 0);
  if (selected >= 0) {
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(Handle(), LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&lv));
    ::SendMessageW(Handle(), LVM_SETSELECTIONMARK, 0, selected);
    ::SendMessageW(Handle(), LVM_ENSUREVISIBLE, selected, FALSE);
  }
  LayoutScrollBars(false);
  Invalidate(true);
  filling_ = false;
}

std::int32_t CVpnServerListCtrl::RowId(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? rows_[row].id : -1;
}

void CVpnServerListCtrl::SetSpeedCell(int row, const std::wstring& text) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
  rows_[row].cells[2] = text;
  // Most results are for rows out of view, and each invalidation costs a
  // round trip to the window system: only the rows on the screen are
  // redrawn, the others show their text when scrolled to.
  const LRESULT top = ::SendMessageW(Handle(), LVM_GETTOPINDEX, 0, 0);
  const LRESULT perPage = ::SendMessageW(Handle(), LVM_GETCOUNTPERPAGE, 0, 0);
  if (row < top || row > top + perPage) return;
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
  if (item < 0 || static_cast<std::size_t>(item) >= rows_.size()) return;
  const std::wstring& text = rows_[item].cells[2];
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
  if (nm.code == LVN_GETDISPINFOW) {
    auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(nm));
    const int row = info.item.iItem, column = info.item.iSubItem;
    if ((info.item.mask & LVIF_TEXT) && info.item.pszText && info.item.cchTextMax > 0 && row >= 0 &&
        static_cast<std::size_t>(row) < rows_.size() && column >= 0 && column < 4) {
      const std::wstring& text = rows_[row].cells[column];
      const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(info.item.cchTextMax) - 1);
      text.copy(info.item.pszText, n);
      info.item.pszText[n] = L'\0';
    }
    result = 0;
    return true;
  }
  if (nm.code == LVN_ITEMCHANGED) {
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(nm);
    const bool nowSelected = (change.uNewState & LVIS_SELECTED) && !(change.uOldState & LVIS_SELECTED);
    if (!filling_ && onSelected) {
      if (nowSelected && change.iItem >= 0) {
        onSelected(change.iItem);
      } else if (!(change.uNewState & LVIS_SELECTED) && ::SendMessageW(Handle(), LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
        // A click beside the rows or Ctrl+click clears the selection (for an
        // owner-data list possibly as one change of item -1); Connect must
        // not go on with the server the user let go.
        onSelected(-1);
      }
    }
    result = 0;
    return true;
  }
  return CSkinListCtrl::OnNotifyReflect(nm, result);
}
