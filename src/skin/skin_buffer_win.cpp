#include "skin/skin_buffer_win.h"

void RequestParentBackground(HWND child, HDC surface) {
  HWND parent = ::GetParent(child);
  if (!parent) return;
  if (!::SendMessageW(parent, WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(surface), reinterpret_cast<LPARAM>(child)))
    ::SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(surface), 0);
}

namespace {

// Making and dropping a surface and bitmap per control costs more than the
// drawing itself under Wine; painting is one control at a time, so each
// thread keeps one surface and grows it as needed.
struct SharedBuffer {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  int width = 0, height = 0;
  bool busy = false;
};
thread_local SharedBuffer sharedBuffer;

}  // namespace

CAutoBufferDC::CAutoBufferDC(const RECT& rect, HDC target) : target_(target), rect_(rect) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  SharedBuffer& shared = sharedBuffer;
  if (!shared.busy) {
    if (!shared.dc) shared.dc = ::CreateCompatibleDC(target);
    if (w > shared.width || h > shared.height) {
      const int width = w > shared.width ? w : shared.width, height = h > shared.height ? h : shared.height;
      HBITMAP bigger = ::CreateCompatibleBitmap(target, width, height);
      if (bigger) {
        HGDIOBJ old = ::SelectObject(shared.dc, bigger);
        if (!shared.previous) shared.previous = old;
        if (shared.bitmap) ::DeleteObject(shared.bitmap);
        shared.bitmap = bigger;
        shared.width = width;
        shared.height = height;
      }
    }
    if (shared.dc && shared.bitmap) {
      shared.busy = true;
      shared_ = true;
      memory_ = shared.dc;
    }
  }
  if (!shared_) {
    memory_ = ::CreateCompatibleDC(target);
    bitmap_ = ::CreateCompatibleBitmap(target, w, h);
    previousBitmap_ = ::SelectObject(memory_, bitmap_);
  }
  // Same coordinates and text colour as the target; every control selects
  // its own font.
  ::SetViewportOrgEx(memory_, -rect.left, -rect.top, nullptr);
  ::SetTextColor(memory_, ::GetTextColor(target));
}

CAutoBufferDC::~CAutoBufferDC() {
  ::SetViewportOrgEx(memory_, 0, 0, nullptr);
  ::BitBlt(target_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top, memory_, 0, 0, SRCCOPY);
  if (shared_) {
    sharedBuffer.busy = false;
    return;
  }
  ::SelectObject(memory_, previousBitmap_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(memory_);
}
