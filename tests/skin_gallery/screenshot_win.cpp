#include "skin_gallery/screenshot_win.h"

#include "skin/skin_platform_win.h"

// The display is shared: a capture of one flat colour (another program's window,
// a display not yet drawn) is taken again.
bool SaveWindow(HWND window, const std::wstring& path) {
  ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  for (int attempt = 0; attempt < 10; ++attempt) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(300);
    RECT r{};
    ::GetWindowRect(window, &r);
    HDC screen = ::GetDC(nullptr);
    const COLORREF corner = ::GetPixel(screen, r.left + 20, r.top + 60);
    bool flat = true;
    for (int y = r.top + 30; y < r.bottom && flat; y += 7)
      for (int x = r.left; x < r.right && flat; x += 5) flat = ::GetPixel(screen, x, y) == corner;
    const bool ok = !flat && SavePng(screen, r, path);
    ::ReleaseDC(nullptr, screen);
    if (ok) return true;
  }
  return false;
}

