#include "skin/skin_window_win.h"

#include <map>
#include <vector>

#include "skin/skin_layout.h"
#include "skin/skin_platform_win.h"

namespace {

std::map<HWND, CSkinWindow*>& HookTable() {
  static std::map<HWND, CSkinWindow*> table;
  return table;
}

constexpr COLORREF kTitleColour = RGB(6, 56, 157);

bool IsCaptionHit(WPARAM hit) { return hit == HTCAPTION; }

}  // namespace

CSkinWindow::~CSkinWindow() {
  if (dialog_ && previous_ && HookTable().count(dialog_)) {
    if (::IsWindow(dialog_)) ::SetWindowLongPtrW(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    HookTable().erase(dialog_);
  }
  DropBackground();
  if (skinRegion_) ::DeleteObject(skinRegion_);
}

std::int32_t CSkinWindow::Own(const wchar_t* name, std::int32_t fallback) const {
  auto it = attributes.ints.find(name);
  return it != attributes.ints.end() ? it->second : fallback;
}

void CSkinWindow::Attach(HWND dialog) {
  dialog_ = dialog;
  HookTable()[dialog] = this;
  previous_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSkinWindow::HookProc)));

  if (Own(L"CloseBox", 1)) {
    close_ = std::make_unique<CSkinSystemButtonClose>();
    CreateImageButton(*close_, dialog, L"SystemButtonClose");
  }
  if (Own(L"MaximizeBox", 1)) {
    maximize_ = std::make_unique<CSkinSystemButtonMaximize>();
    CreateImageButton(*maximize_, dialog, L"SystemButtonMaximize");
    restore_ = std::make_unique<CSkinSystemButtonRestore>();
    CreateImageButton(*restore_, dialog, L"SystemButtonRestore");
  }
  if (Own(L"MinimizeBox", 1)) {
    const LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
    ::SetWindowLongPtrW(dialog, GWL_STYLE, style | WS_MINIMIZEBOX);
    minimize_ = std::make_unique<CSkinSystemButtonMinimize>();
    CreateImageButton(*minimize_, dialog, L"SystemButtonMinimize");
  }
  ::SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(SkinFont(L"DefaultFont")), FALSE);
  Layout();
}

LRESULT CALLBACK CSkinWindow::HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto found = HookTable().find(window);
  if (found == HookTable().end()) return 0;
  CSkinWindow* self = found->second;
  LRESULT result = 0;
  if (self->HandleMessage(message, wParam, lParam, result)) return result;
  if (message == WM_DESTROY) {
    WNDPROC previous = self->previous_;
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    HookTable().erase(window);
    self->previous_ = nullptr;
    return ::CallWindowProcW(previous, window, message, wParam, lParam);
  }
  return self->CallPrevious(message, wParam, lParam);
}

LRESULT CSkinWindow::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::CallWindowProcW(previous_, dialog_, message, wParam, lParam);
}

bool CSkinWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return false;
    case WM_ERASEBKGND:
      if (background_)
        ::BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, client_.right - client_.left, client_.bottom - client_.top,
                 background_, 0, 0, SRCCOPY);
      result = 1;
      return true;
    case WM_NCPAINT:
    case WM_NCACTIVATE:
      result = 1;
      return true;
    case WM_NCCALCSIZE:
      result = 0;
      return true;
    case WM_GETFONT:
      result = reinterpret_cast<LRESULT>(
          SkinFont(GetSkinAttributes().GetString(attributes, L"Font", L"", L"DefaultFont").c_str()));
      return true;
    case WM_NCHITTEST: {
      POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ::ScreenToClient(dialog_, &p);
      result = ::PtInRect(&title_, p) ? HTCAPTION : HTCLIENT;
      return true;
    }
    case WM_NCLBUTTONDOWN:
      if (!IsCaptionHit(wParam)) return false;
      ::SendMessageW(dialog_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, lParam);
      result = 0;
      return true;
    case WM_NCLBUTTONUP:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN:
    case WM_NCMBUTTONUP:
    case WM_NCMBUTTONDBLCLK:
    case WM_NCXBUTTONDOWN:
    case WM_NCXBUTTONUP:
    case WM_NCXBUTTONDBLCLK:
      if (!IsCaptionHit(wParam)) return false;
      result = 0;
      return true;
    case WM_COMMAND: {
      if (LOWORD(wParam) != 0 || HIWORD(wParam) != BN_CLICKED) return false;
      const HWND from = reinterpret_cast<HWND>(lParam);
      WPARAM command = 0;
      if (minimize_ && from == minimize_->Handle()) command = SC_MINIMIZE;
      if (restore_ && from == restore_->Handle()) command = SC_RESTORE;
      if (maximize_ && from == maximize_->Handle()) command = SC_MAXIMIZE;
      if (close_ && from == close_->Handle()) command = SC_CLOSE;
      if (!command) return false;
      ::SendMessageW(dialog_, WM_SYSCOMMAND, command, 0);
      result = 1;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(SkinBrush(L"CtlColorBrush"));
      return true;
    case WM_SKINBACKGROUND: {
      const HWND child = reinterpret_cast<HWND>(lParam);
      RECT r{};
      ::GetWindowRect(child, &r);
      ::MapWindowPoints(HWND_DESKTOP, dialog_, reinterpret_cast<POINT*>(&r), 2);
      if (background_)
        ::BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, r.right - r.left, r.bottom - r.top, background_, r.left, r.top,
                 SRCCOPY);
      result = 1;
      return true;
    }
  }
  return false;
}

void CSkinWindow::DropBackground() {
  if (background_) {
    ::SelectObject(background_, previousBitmap_);
    ::DeleteDC(background_);
    background_ = nullptr;
  }
  if (bitmap_) {
    ::DeleteObject(bitmap_);
    bitmap_ = nullptr;
  }
}

void CSkinWindow::Layout() {
  ::GetClientRect(dialog_, &client_);
  const int w = client_.right - client_.left, h = client_.bottom - client_.top;

  HDC dc = ::GetDC(dialog_);
  DropBackground();
  background_ = ::CreateCompatibleDC(dc);
  bitmap_ = ::CreateCompatibleBitmap(dc, w > 0 ? w : 1, h > 0 ? h : 1);
  previousBitmap_ = ::SelectObject(background_, bitmap_);
  ::ReleaseDC(dialog_, dc);
  RECT all{0, 0, w, h};
  ::FillRect(background_, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RenderBackground(w, h);
  for (HWND child = ::GetWindow(dialog_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (::IsWindowVisible(child) && (::GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_TRANSPARENT))
      ::InvalidateRect(child, nullptr, TRUE);
  ::InvalidateRect(dialog_, nullptr, FALSE);

  SetRoundedRegion(w, h);

  const SkinAttributeBlock& global = GetSkinAttributes().Global();
  const CSkinAttributes& skin = GetSkinAttributes();
  const std::int32_t marginTop = skin.GetInt(global, L"SystemButtonMarginTop", L"", 0);
  const std::int32_t marginRight = skin.GetInt(global, L"SystemButtonMarginRight", L"", 8);
  const std::int32_t space = skin.GetInt(global, L"SystemButtonSpace", L"", 0);
  const std::int32_t titleHeight = skin.GetInt(global, L"WindowTitleHeight", L"", 25);

  CSkinButton* middle = nullptr;
  if (Own(L"MaximizeBox", 1)) middle = ::IsZoomed(dialog_) ? static_cast<CSkinButton*>(restore_.get()) : maximize_.get();
  const std::vector<CSkinButton*> order = {Own(L"MinimizeBox", 1) ? minimize_.get() : nullptr, middle,
                                           Own(L"CloseBox", 1) ? close_.get() : nullptr};
  for (CSkinButton* b : {static_cast<CSkinButton*>(close_.get()), static_cast<CSkinButton*>(minimize_.get()),
                         static_cast<CSkinButton*>(restore_.get()), static_cast<CSkinButton*>(maximize_.get())})
    if (b && b->Handle()) b->Show(false);
  std::vector<CaptionButtonSlot> slots;
  for (CSkinButton* b : order) {
    CaptionButtonSlot slot;
    if (b && b->Handle()) {
      RECT r{};
      ::GetWindowRect(b->Handle(), &r);
      slot = {r.right - r.left, r.bottom - r.top, true};
    }
    slots.push_back(slot);
  }
  const CaptionLayout caption = LayOutCaption(w, slots, marginTop, marginRight, space, titleHeight);
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (!slots[k].shown) continue;
    const SkinRect& r = caption.buttons[k];
    ::SetWindowPos(order[k]->Handle(), nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    order[k]->Show(true);
  }
  title_ = RECT{caption.title.left, caption.title.top, caption.title.right, caption.title.bottom};
}

void CSkinWindow::SetRoundedRegion(int w, int h) {
  // A dialog that shaped itself keeps its own shape.
  HRGN current = ::CreateRectRgn(0, 0, 0, 0);
  const int type = ::GetWindowRgn(dialog_, current);
  const bool foreign = type != ERROR && (!skinRegion_ || !::EqualRgn(current, skinRegion_));
  ::DeleteObject(current);
  if (foreign) return;

  HRGN region = ::CreateRoundRectRgn(0, 0, w, h, kSkinCornerEllipse, kSkinCornerEllipse);
  HRGN square = ::CreateRectRgn(0, 15, w - 1, h + 15);
  ::CombineRgn(region, region, square, RGN_OR);
  ::DeleteObject(square);
  if (!skinRegion_) skinRegion_ = ::CreateRectRgn(0, 0, 0, 0);
  ::CombineRgn(skinRegion_, region, nullptr, RGN_COPY);
  if (!::SetWindowRgn(dialog_, region, TRUE)) ::DeleteObject(region);
}

void CSkinWindow::RenderBackground(int w, int h) {
  CSkinAttributes& skin = GetSkinAttributes();
  for (const FramePiece& piece : LayOutFrame(skin, w, h))
    skin.DrawCellByName(background_, piece.cell, L"", piece.flags, piece.destination.left, piece.destination.top,
                        piece.destination.right, piece.destination.bottom);
  const std::wstring custom = skin.GetString(attributes, L"CustomBackground", L"", L"");
  if (!custom.empty())
    if (auto piece = ParseCustomBackground(custom))
      skin.DrawCellByName(background_, piece->cell, L"", piece->flags, piece->destination.left,
                          piece->destination.top, piece->destination.right, piece->destination.bottom);

  wchar_t text[256] = {};
  ::GetWindowTextW(dialog_, text, 256);
  const std::wstring title = skin.GetString(attributes, L"Title", L"", text);
  ::SetTextColor(background_, kTitleColour);
  ::SetBkMode(background_, TRANSPARENT);
  HGDIOBJ oldFont = ::SelectObject(background_, SkinFont(L"WindowTitleFont", static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT))));
  ::TextOutW(background_, 40, 10, title.c_str(), static_cast<int>(title.size()));
  ::SelectObject(background_, oldFont);
}
