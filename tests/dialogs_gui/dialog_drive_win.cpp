#include "dialogs_gui/dialog_drive_win.h"

#include <commctrl.h>

#include "dialogs/dlg_vpn_policy_win.h"
#include "skin/list_logic.h"

namespace {

struct Search {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  if (::GetDlgCtrlID(w) != s->id) return TRUE;
  s->found = w;
  return FALSE;
}

bool IsResult(const std::wstring& text) {
  return !text.empty() && ((text[0] >= L'0' && text[0] <= L'9') || text.find(L"imeout") != std::wstring::npos);
}

}  // namespace

HWND FindDescendant(HWND parent, int id) {
  Search search{id, nullptr};
  ::EnumChildWindows(parent, &MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ServerList(HWND dialog) { return FindDescendant(dialog, kPolicyServerList); }
HWND RouteList(HWND dialog) { return FindDescendant(dialog, kListBoxCommandId); }

void SelectRoute(HWND dialog, int row) {
  HWND list = RouteList(dialog);
  ::SendMessageW(list, LB_SETCURSEL, row, 0);
  ::SendMessageW(::GetParent(list), WM_COMMAND, MAKEWPARAM(kListBoxCommandId, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

void SelectListRow(HWND list, int row) {
  LVITEMW lv{};
  lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  lv.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
}

void ClickAt(HWND window, int x, int y) {
  ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  ::SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void ClickHeaderColumn(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT r{};
  ::SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
  ClickAt(header, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

int ListRowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListText(HWND list, int row, int column) {
  wchar_t buffer[512] = {};
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = buffer;
  lv.cchTextMax = 512;
  ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&lv));
  return buffer;
}

std::vector<std::wstring> ListColumn(HWND list, int column) {
  std::vector<std::wstring> texts;
  for (int r = 0, n = ListRowCount(list); r < n; ++r) texts.push_back(ListText(list, r, column));
  return texts;
}

bool WaitForSpeedColumn(HWND dialog, int timeoutMs) {
  HWND list = ServerList(dialog);
  return WaitUntil(timeoutMs, [&] {
    const auto speeds = ListColumn(list, 2);
    if (speeds.empty()) return false;
    for (const auto& s : speeds)
      if (!IsResult(s)) return false;
    return true;
  });
}
