#include "skin/skin_lists_win.h"

#include "skin/skin_platform_win.h"
#include "skin/tab_logic.h"

namespace {

CSkinAttributes& Skin() { return GetSkinAttributes(); }
RECT ToRect(const ListRect& r) { return {r.left, r.top, r.right, r.bottom}; }

int WindowWidth(HWND w) {
  RECT r{};
  ::GetWindowRect(w, &r);
  return r.right - r.left;
}

HFONT ParentFont(HWND w) {
  return reinterpret_cast<HFONT>(::SendMessageW(::GetParent(w), WM_GETFONT, 0, 0));
}

}  // namespace

bool CSkinTabCtrl::Create(HWND parent, const RECT& rect, int id) {
  HDC screen = ::GetDC(nullptr);
  rowHeight_ = TabRowHeight(::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(nullptr, screen);
  ControlArgs args;
  const std::wstring& cls = Skin().PanelWindowClass();
  args.windowClass = cls.c_str();
  args.rect = rect;
  args.style = WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  args.id = id;
  if (!CreateControl(parent, args)) return false;
  EnsureSkinInit();
  Layout();
  return true;
}

void CSkinTabCtrl::InsertTab(const SkinTabItem& item) {
  const int at = TabInsertIndex(item.insertPosition, TabCount());
  tabs_.insert(tabs_.begin() + at, item);
  if (active_ >= at) ++active_;
  if (item.page && (active_ < 0 || tabs_[active_].page != item.page)) ::ShowWindow(item.page, SW_HIDE);
  Layout();
}

void CSkinTabCtrl::DeleteAllTabs() {
  tabs_.clear();
  active_ = -1;
  Layout();
}

void CSkinTabCtrl::SetRowWindows(HWND left, HWND right) {
  left_ = left;
  right_ = right;
  Layout();
}

SkinTabItem CSkinTabCtrl::GetActiveTab() const {
  if (active_ < 0 || active_ >= TabCount()) return SkinTabItem{};
  return tabs_[active_];
}

void CSkinTabCtrl::SetActiveTab(int index) {
  active_ = index >= 0 && index < TabCount() ? index : -1;
  Layout();
  ShowPages();
  Invalidate(true);
}

void CSkinTabCtrl::ShowPages() {
  HWND shown = active_ >= 0 ? tabs_[active_].page : nullptr;
  for (const SkinTabItem& tab : tabs_)
    if (tab.page && tab.page != shown) ::ShowWindow(tab.page, SW_HIDE);
  if (shown) ::ShowWindow(shown, SW_SHOW);
}

void CSkinTabCtrl::Layout() {
  if (!Handle()) return;
  const RECT client = ClientRect();
  TabStripInput in;
  in.clientWidth = client.right;
  in.clientHeight = client.bottom;
  in.rowHeight = rowHeight_;
  if (left_) in.leftWindowWidth = WindowWidth(left_);
  if (right_) in.rightWindowWidth = WindowWidth(right_);
  HDC dc = ::GetDC(Handle());
  HGDIOBJ old = ::SelectObject(dc, ParentFont(Handle()));
  for (const SkinTabItem& tab : tabs_) in.textWidths.push_back(Skin().Platform().TextWidth(dc, tab.text));
  ::SelectObject(dc, old);
  ::ReleaseDC(Handle(), dc);
  const TabStripLayout layout = LayoutTabStrip(in);
  page_ = ToRect(layout.page);
  auto place = [](HWND w, const ListRect& r) {
    ::SetWindowPos(w, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  if (left_) place(left_, layout.leftWindow);
  if (right_) place(right_, layout.rightWindow);
  for (std::size_t i = 0; i < tabs_.size(); ++i) tabs_[i].rect = ToRect(layout.tabs[i]);
  if (active_ >= 0 && tabs_[active_].page) place(tabs_[active_].page, layout.pageWindow);
}

void CSkinTabCtrl::Paint(HDC target) {
  const RECT r = ClientRect();
  CAutoBufferDC dc(r, target);
  RequestParentBackground(Handle(), dc);
  HGDIOBJ oldFont = ::SelectObject(dc, ParentFont(Handle()));
  ::SetBkMode(dc, TRANSPARENT);
  HBRUSH frame = ::CreateSolidBrush(RGB(192, 192, 192));
  ::FrameRect(dc, &page_, frame);
  ::DeleteObject(frame);
  const int leftWidth = Skin().GetCell(L"TabButtonLeftActive").Width();
  const int rightWidth = Skin().GetCell(L"TabButtonRightActive").Width();
  for (int i = 0; i < TabCount(); ++i) {
    const SkinTabItem& tab = tabs_[i];
    const TabFace face = TabFaceFor({tab.rect.left, tab.rect.top, tab.rect.right, tab.rect.bottom}, i == active_,
                                    leftWidth, rightWidth);
    auto draw = [&](const std::string& name, const ListRect& at) {
      Skin().DrawCellByName(dc, std::wstring(name.begin(), name.end()), L"", 0, at.left, at.top, at.right, at.bottom);
    };
    draw(face.leftCell, face.left);
    draw(face.middleCell, face.middle);
    draw(face.rightCell, face.right);
    if (!tab.iconCell.empty())
      Skin().DrawCell(dc, Skin().GetCell(tab.iconCell), kCellNaturalSize, face.iconX, face.iconY, face.iconX,
                      face.iconY);
    RECT t = ToRect(face.text);
    ::DrawTextW(dc, tab.text.c_str(), static_cast<int>(tab.text.size()), &t, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, oldFont);
}

bool CSkinTabCtrl::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_PAINT: {
      PaintWindow(Handle(), [this](HDC target) { Paint(target); });
      // The row windows paint over the row we just covered.
      if (left_) ::InvalidateRect(left_, nullptr, FALSE);
      if (right_) ::InvalidateRect(right_, nullptr, FALSE);
      result = 0;
      return true;
    }
    case WM_PRINTCLIENT:
      // The strip as it paints, into the caller's surface (captures, and
      // the platform's animations of a window).
      Paint(reinterpret_cast<HDC>(wParam));
      result = 0;
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_SIZE:
      CSkinWnd::SkinMessage(message, wParam, lParam, result);
      Layout();
      result = 0;
      return true;
    case WM_LBUTTONDOWN: {
      std::vector<ListRect> rects;
      for (const SkinTabItem& tab : tabs_) rects.push_back({tab.rect.left, tab.rect.top, tab.rect.right, tab.rect.bottom});
      const int hit = TabAtPoint(rects, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)), active_);
      if (hit != active_) {
        SetActiveTab(hit);
        ::SendMessageW(::GetParent(Handle()), WM_COMMAND, MAKEWPARAM(Id(), 0), reinterpret_cast<LPARAM>(Handle()));
      }
      result = 0;
      return true;
    }
    case WM_NOTIFY:
      // The page lists report to us; they are drawn by their own objects.
      if (ReflectListNotify(lParam, result)) return true;
      result = ::SendMessageW(::GetParent(Handle()), WM_NOTIFY, wParam, lParam);
      return true;
  }
  return CSkinWnd::SkinMessage(message, wParam, lParam, result);
}
