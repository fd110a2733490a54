#include "skin/skin_buffer_win.h"

void RequestParentBackground(HWND child, HDC surface) {
  HWND parent = ::GetParent(child);
  if (!parent) return;
  if (!::SendMessageW(parent, WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(surface), reinterpret_cast<LPARAM>(child)))
    ::SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(surface), 0);
}

CAutoBufferDC::CAutoBufferDC(const RECT& rect, HDC target) : target_(target), rect_(rect) {
  memory_ = ::CreateCompatibleDC(target);
  bitmap_ = ::CreateCompatibleBitmap(target, rect.right - rect.left, rect.bottom - rect.top);
  previousBitmap_ = ::SelectObject(memory_, bitmap_);
  // Same coordinates as the target, and its text settings to start from.
  ::SetViewportOrgEx(memory_, -rect.left, -rect.top, nullptr);
  ::SetTextColor(memory_, ::GetTextColor(target));
  ::SelectObject(memory_, ::GetCurrentObject(target, OBJ_FONT));
}

CAutoBufferDC::~CAutoBufferDC() {
  ::SetViewportOrgEx(memory_, 0, 0, nullptr);
  ::BitBlt(target_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, memory_, 0, 0, SRCCOPY);
  ::SelectObject(memory_, ::GetStockObject(SYSTEM_FONT));
  ::SelectObject(memory_, previousBitmap_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(memory_);
}
