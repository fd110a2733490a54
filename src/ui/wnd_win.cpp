#include "ui/wnd_win.h"

#include <mutex>
#include <unordered_map>

namespace {

// Handle to object, kept in the process: every message a bound window gets
// looks its object up, and a window property costs a round trip to the
// window system each time (under Wine a server request, a fraction of a
// millisecond on a busy machine), which a list of a thousand rows paid for
// every cell it drew.
std::mutex gObjectsLock;
std::unordered_map<HWND, CWnd*>& Objects() {
  static auto* objects = new std::unordered_map<HWND, CWnd*>;
  return *objects;
}

}  // namespace

RECT MakeRect(int left, int top, int right, int bottom) { return RECT{left, top, right, bottom}; }

CWnd::~CWnd() {
  if (window_ && previous_) Unsubclass();
  Unbind();
}

CWnd* CWnd::FromHandle(HWND window) {
  if (!window) return nullptr;
  std::lock_guard<std::mutex> hold(gObjectsLock);
  const auto found = Objects().find(window);
  return found == Objects().end() ? nullptr : found->second;
}

void CWnd::Bind(HWND window) {
  window_ = window;
  std::lock_guard<std::mutex> hold(gObjectsLock);
  Objects()[window] = this;
}

void CWnd::Unbind() {
  // Also for a window already destroyed: its handle can be given to a new
  // window, which must not find this object.
  if (window_) {
    std::lock_guard<std::mutex> hold(gObjectsLock);
    const auto found = Objects().find(window_);
    if (found != Objects().end() && found->second == this) Objects().erase(found);
  }
  window_ = nullptr;
}

bool CWnd::CreateControl(HWND parent, const ControlArgs& args) {
  HWND w = ::CreateWindowExW(args.exStyle, args.windowClass, args.text.c_str(), WS_CHILD | args.style,
                             args.rect.left, args.rect.top, args.rect.right - args.rect.left,
                             args.rect.bottom - args.rect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)), ::GetModuleHandleW(nullptr),
                             nullptr);
  if (!w) return false;
  if (HFONT font = reinterpret_cast<HFONT>(::SendMessageW(parent, WM_GETFONT, 0, 0)))
    ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return Subclass(w);
}

bool CWnd::Subclass(HWND window) {
  if (!window || previous_) return false;
  Bind(window);
  previous_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
  return previous_ != nullptr;
}

void CWnd::Unsubclass() {
  if (!window_ || !previous_) return;
  if (::IsWindow(window_))
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  previous_ = nullptr;
  Unbind();
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* self = FromHandle(window);
  if (!self || !self->previous_) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    WNDPROC previous = self->previous_;
    self->Unsubclass();
    return ::CallWindowProcW(previous, window, message, wParam, lParam);
  }
  return self->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DRAWITEM && ReflectDrawItem(lParam)) return TRUE;
  return Default(message, wParam, lParam);
}

LRESULT CWnd::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  if (previous_) return ::CallWindowProcW(previous_, window_, message, wParam, lParam);
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

bool ReflectDrawItem(LPARAM lParam) {
  const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  if (!item || item->CtlType == ODT_MENU) return false;
  CWnd* control = CWnd::FromHandle(item->hwndItem);
  return control && control->DrawItem(*item);
}

int CWnd::Id() const { return ::GetDlgCtrlID(window_); }

std::wstring CWnd::Text() const {
  const int length = ::GetWindowTextLengthW(window_);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

void CWnd::SetText(const std::wstring& text) { ::SetWindowTextW(window_, text.c_str()); }

RECT CWnd::ClientRect() const {
  RECT r{};
  ::GetClientRect(window_, &r);
  return r;
}

RECT CWnd::RectInParent() const {
  RECT r{};
  ::GetWindowRect(window_, &r);
  if (HWND parent = ::GetParent(window_)) ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void CWnd::Move(const RECT& r, bool repaint) {
  ::MoveWindow(window_, r.left, r.top, r.right - r.left, r.bottom - r.top, repaint);
}

void CWnd::Invalidate(bool erase) { ::InvalidateRect(window_, nullptr, erase); }
void CWnd::Show(bool visible) { ::ShowWindow(window_, visible ? SW_SHOW : SW_HIDE); }
void CWnd::Enable(bool enabled) { ::EnableWindow(window_, enabled); }
bool CWnd::Enabled() const { return ::IsWindowEnabled(window_); }

void CWnd::SetFont(HFONT font, bool redraw) {
  ::SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
}

HFONT CWnd::Font() const { return reinterpret_cast<HFONT>(::SendMessageW(window_, WM_GETFONT, 0, 0)); }

void CWnd::ModifyStyle(DWORD remove, DWORD add) {
  const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_STYLE);
  ::SetWindowLongPtrW(window_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(remove)) | add);
}

void CWnd::ModifyStyleEx(DWORD remove, DWORD add) {
  const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_EXSTYLE);
  ::SetWindowLongPtrW(window_, GWL_EXSTYLE, (style & ~static_cast<LONG_PTR>(remove)) | add);
}

bool CWnd::SetTimer(UINT_PTR id, UINT ms) { return ::SetTimer(window_, id, ms, nullptr) != 0; }
void CWnd::KillTimer(UINT_PTR id) { ::KillTimer(window_, id); }

int CButton::GetCheck() const { return static_cast<int>(::SendMessageW(window_, BM_GETCHECK, 0, 0)); }
void CButton::SetCheck(int state) { ::SendMessageW(window_, BM_SETCHECK, static_cast<WPARAM>(state), 0); }
UINT CButton::GetState() const { return static_cast<UINT>(::SendMessageW(window_, BM_GETSTATE, 0, 0)); }
void CButton::SetState(bool pushed) { ::SendMessageW(window_, BM_SETSTATE, pushed, 0); }
