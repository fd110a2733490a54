#include "dialogs_gui/dialogs_test_support.h"

#include <commctrl.h>

#include <algorithm>


namespace {

void BringToScreen(HWND window) {
  HWND top = ::GetAncestor(window, GA_ROOT);
  ::SetWindowPos(top, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = ::GetDC(nullptr);
  const COLORREF c = ::GetPixel(screen, x, y);
  ::ReleaseDC(nullptr, screen);
  return c;
}

}  // namespace

COLORREF CellBackgroundOnScreen(HWND list, int row, int column) {
  BringToScreen(list);
  RECT r{};
  r.top = column;
  r.left = LVIR_BOUNDS;
  ::SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r));
  POINT p{r.right - 8, (r.top + r.bottom) / 2};
  ::ClientToScreen(list, &p);
  return ScreenPixel(p.x, p.y);
}

ThumbCheck ReadThumbOnScreen(HWND list) {
  ThumbCheck check;
  BringToScreen(list);
  RECT lr{};
  ::GetWindowRect(list, &lr);
  const int cx = ::GetSystemMetrics(SM_CXVSCROLL);
  // The skinned bar: a shown sibling along the list's right edge.
  HWND bar = nullptr;
  for (HWND w = ::GetWindow(::GetParent(list), GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
    RECT r{};
    ::GetWindowRect(w, &r);
    if (w != list && ::IsWindowVisible(w) && r.left == lr.right - cx && r.top == lr.top) bar = w;
  }
  if (!bar) return check;
  RECT client{};
  ::GetClientRect(bar, &client);
  const int w = client.right, h = client.bottom;
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_ALL;
  if (!::GetScrollInfo(list, SB_VERT, &si)) return check;
  // The arithmetic, restated: thumb = page x track / (range + 1), at least
  // 6; leading edge = track start + (track - thumb) x position / (range - page + 1).
  const int track = h - 2 * w;
  const long long range = static_cast<long long>(si.nMax) - si.nMin;
  check.expectedLength = std::max<int>(6, static_cast<int>(si.nPage * static_cast<long long>(track) / (range + 1)));
  check.expectedTop = w + static_cast<int>((track - check.expectedLength) * static_cast<long long>(si.nPos) /
                                           (range - si.nPage + 1));
  // Along the bar's left column the thumb's border is the one run of the
  // border grey inside the track.
  POINT origin{0, 0};
  ::ClientToScreen(bar, &origin);
  int first = -1, last = -1;
  for (int y = w; y < h - w; ++y)
    if (ScreenPixel(origin.x, origin.y + y) == RGB(149, 149, 149)) {
      if (first < 0) first = y;
      last = y;
    }
  if (first < 0) return check;
  check.found = true;
  check.top = first;
  check.length = last - first + 1;
  return check;
}
