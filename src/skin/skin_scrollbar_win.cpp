#include "skin/skin_lists_win.h"

#include "skin/skin_platform_win.h"

namespace {

constexpr UINT_PTR kRepeatTimer = 1;

CSkinAttributes& Skin() { return GetSkinAttributes(); }
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
RECT ToRect(const ListRect& r) { return {r.left, r.top, r.right, r.bottom}; }

std::wstring ClassOf(HWND window) {
  wchar_t name[1025] = {};
  ::GetClassNameW(window, name, 1024);
  return name;
}

void DrawCentred(HDC dc, const SkinCell& cell, const ListRect& r) {
  if (!cell.Drawable()) return;
  const int x = r.left + (r.Width() - cell.Width()) / 2, y = r.top + (r.Height() - cell.Height()) / 2;
  Skin().DrawCell(dc, cell, kCellNaturalSize, x, y, x, y);
}

}  // namespace

CSkinScrollbar::~CSkinScrollbar() {
  if (Handle() && ::IsWindow(Handle())) ::DestroyWindow(Handle());
}

bool CSkinScrollbar::Create(HWND owner, bool vertical) {
  owner_ = owner;
  vertical_ = vertical;
  skinPrefix = vertical ? L"VScrollBar" : L"HScrollBar";
  model_ = std::make_unique<CScrollBarModel>(vertical, IsListViewClass(ClassOf(owner)), *this);
  ControlArgs args;
  const std::wstring& cls = Skin().PanelWindowClass();
  args.windowClass = cls.c_str();
  args.style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  args.id = 0xFFFF;
  return CreateControl(::GetParent(owner), args);
}

void CSkinScrollbar::SyncScrollBar() {
  if (!model_ || !Handle()) return;
  const RECT c = ClientRect();
  model_->Resize(c.right, c.bottom);
  model_->Sync();
}

bool CSkinScrollbar::ReadScrollInfo(ScrollInfo& info) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
  if (!::GetScrollInfo(owner_, vertical_ ? SB_VERT : SB_HORZ, &si)) return false;
  info.minimum = si.nMin;
  info.maximum = si.nMax;
  info.page = si.nPage;
  info.position = si.nPos;
  return true;
}

void CSkinScrollbar::SendScroll(int code, std::int32_t position) {
  ::SendMessageW(owner_, vertical_ ? WM_VSCROLL : WM_HSCROLL,
                 MAKEWPARAM(code, static_cast<WORD>(position & 0xFFFF)), 0);
}

void CSkinScrollbar::ScrollListView(int dx, int dy) { ::SendMessageW(owner_, LVM_SCROLL, dx, dy); }

int CSkinScrollbar::FirstItemHeight() {
  RECT r{};
  r.left = LVIR_BOUNDS;
  if (!::SendMessageW(owner_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r))) return 0;
  return r.bottom - r.top;
}

void CSkinScrollbar::Repaint() { Invalidate(false); }

void CSkinScrollbar::SetCapture(bool captured) {
  if (captured)
    ::SetCapture(Handle());
  else if (::GetCapture() == Handle())
    ::ReleaseCapture();
}

void CSkinScrollbar::ArmRepeatTimer(std::uint32_t ms) {
  if (ms == 0)
    KillTimer(kRepeatTimer);
  else
    SetTimer(kRepeatTimer, ms);
}

void CSkinScrollbar::Paint(HDC target) {
  const RECT r = ClientRect();
  CAutoBufferDC dc(r, target);
  const std::string kind = model_->Kind();
  const SkinCell& gripSized = Skin().GetCell3(Wide(kind), L"ThumbHandler", Wide(model_->PartSuffix(kScrollPartThumb)));
  const ScrollBarPaint plan = model_->PaintPlan(vertical_ ? gripSized.Height() : gripSized.Width());
  Skin().DrawCellByName(dc, Wide(plan.backgroundCell), L"", 0, plan.track.left, plan.track.top, plan.track.right,
                        plan.track.bottom);
  HPEN border = SkinPen(L"ScrollBarBorderPen"), grey = SkinPen(L"ScrollBarBlockGrayPen");
  for (const ScrollBarBlock& block : plan.blocks) {
    HGDIOBJ oldPen = ::SelectObject(dc, border);
    HGDIOBJ oldBrush = ::SelectObject(dc, SkinBrush(L"WhiteBrush"));
    ::Rectangle(dc, block.outer.left, block.outer.top, block.outer.right, block.outer.bottom);
    ::SelectObject(dc, grey);
    ::Rectangle(dc, block.inner.left, block.inner.top, block.inner.right, block.inner.bottom);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    Skin().DrawCellByName(dc, Wide(block.faceCell), L"", 0, block.face.left, block.face.top, block.face.right,
                          block.face.bottom);
  }
  const ScrollBarGeometry& bar = model_->Geometry();
  DrawCentred(dc, Skin().GetCell(Wide(plan.upLeftGlyph)), bar.upLeft);
  DrawCentred(dc, Skin().GetCell(Wide(plan.downRightGlyph)), bar.downRight);
  if (plan.drawGrip) DrawCentred(dc, gripSized, plan.grip);
}

bool CSkinScrollbar::SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!model_) return CSkinWnd::SkinMessage(message, wParam, lParam, result);
  const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
  switch (message) {
    case WM_PAINT: {
      PaintWindow(Handle(), [this](HDC target) { Paint(target); });
      result = 0;
      return true;
    }
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_SIZE:
      SyncScrollBar();
      break;
    case WM_MOUSEMOVE:
      model_->MouseMove(x, y);
      break;  // then the template's hover tracking
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      model_->ButtonDown(x, y, GetTickMs());
      result = 0;
      return true;
    case WM_LBUTTONUP:
      model_->ButtonUp();
      result = 0;
      return true;
    case WM_CAPTURECHANGED:
      if (model_->Pressed() != kScrollPartNone && reinterpret_cast<HWND>(lParam) != Handle()) model_->ButtonUp();
      break;
    case WM_MOUSELEAVE:
      if (::GetCapture() != Handle()) model_->MouseLeave();
      break;
    case WM_TIMER:
      if (wParam == kRepeatTimer) {
        KillTimer(kRepeatTimer);
        model_->RepeatTimer(GetTickMs());
        result = 0;
        return true;
      }
      break;
  }
  return CSkinWnd::SkinMessage(message, wParam, lParam, result);
}

// --- the two bars of a list ---------------------------------------------------

void CListScrollBars::Layout(HWND list, bool force) {
  const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
  const bool v = (style & WS_VSCROLL) != 0, h = (style & WS_HSCROLL) != 0;
  if (!ListScrollBarsNeedPlacing(lastVertical_, lastHorizontal_, v, h, force) && created_) {
    Sync();
    return;
  }
  if (!created_) {
    created_ = vertical_.Create(list, true) && horizontal_.Create(list, false);
    if (!created_) return;
  }
  lastVertical_ = v;
  lastHorizontal_ = h;
  RECT r{};
  ::GetWindowRect(list, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(list), reinterpret_cast<POINT*>(&r), 2);
  const ListScrollBarsPlacement place =
      PlaceListScrollBars({r.left, r.top, r.right, r.bottom}, ::GetSystemMetrics(SM_CXVSCROLL),
                          ::GetSystemMetrics(SM_CYHSCROLL), v, h);
  // Every release of the header's capture forces a layout. Moving the bars
  // and setting the list's region again repaints the whole list (a column
  // click on a thousand rows spent most of its time there), so a layout that
  // would put everything where it already is only synchronises the bars.
  if (placed_ && *placed_ == place) {
    Sync();
    return;
  }
  placed_ = place;
  auto put = [](CSkinScrollbar& bar, bool shown, const ListRect& at) {
    if (shown) ::MoveWindow(bar.Handle(), at.left, at.top, at.Width(), at.Height(), TRUE);
    ::ShowWindow(bar.Handle(), shown ? SW_SHOWNA : SW_HIDE);
    if (shown) bar.SyncScrollBar();
  };
  put(vertical_, place.showVertical, place.vertical);
  put(horizontal_, place.showHorizontal, place.horizontal);
  const RECT keep = ToRect(place.listRegion);
  ::SetWindowRgn(list, ::CreateRectRgn(keep.left, keep.top, keep.right, keep.bottom), TRUE);
}

void CListScrollBars::Sync() {
  if (!created_) return;
  // The window's own flag: the dialog may not be on the screen yet.
  auto shown = [](HWND w) { return (::GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0; };
  if (shown(vertical_.Handle())) vertical_.SyncScrollBar();
  if (shown(horizontal_.Handle())) horizontal_.SyncScrollBar();
}
