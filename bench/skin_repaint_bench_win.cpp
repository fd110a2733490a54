// Repaint of the skinned main window (327x464, frame, picture and its twenty
// controls) against a plain blit of a same-sized bitmap into the same
// window, measured in the same run under Wine.
//   skin_repaint_bench [repaints per round]
#include "platform/win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "skin/registered_skin.h"
#include "skin_gallery/main_window_mock_win.h"
#include "text/text_table.h"
#include "win_bench_timing.h"
#include "ui/message_loop_win.h"

int wmain(int argc, wchar_t** argv) {
  const int repaints = argc > 1 ? _wtoi(argv[1]) : 200;
  constexpr int kRounds = 7;
  LoadTextTable();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  RegisterSkin(GetSkinAttributes());
  ::SetCursorPos(0, 0);

  CDlgMainWindowMock window;
  if (!window.Create()) return 1;
  window.Show(true);
  PumpPendingMessages();
  const HWND w = window.Handle();

  // The baseline's bitmap: the window's own look, blitted as one piece.
  HDC windowDc = ::GetDC(w);
  HDC picture = ::CreateCompatibleDC(windowDc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(windowDc, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight);
  HGDIOBJ old = ::SelectObject(picture, bitmap);
  ::BitBlt(picture, 0, 0, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight,
           window.skinWindow.BackgroundSurface(), 0, 0, SRCCOPY);
  ::ReleaseDC(w, windowDc);

  auto skinned = [&] {
    for (int i = 0; i < repaints; ++i)
      ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::GdiFlush();
  };
  // The buttons' own drawing, called directly: what the repaint costs apart
  // from the window system's painting messages.
  auto drawOnly = [&] {
    HDC dc = ::GetDC(w);
    for (int i = 0; i < repaints; ++i)
      for (auto& b : window.buttons) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = b->Handle();
        item.hDC = dc;
        item.rcItem = b->ClientRect();
        b->DrawItem(item);
      }
    ::ReleaseDC(w, dc);
    ::GdiFlush();
  };
  auto blit = [&] {
    for (int i = 0; i < repaints; ++i) {
      HDC dc = ::GetDC(w);
      ::BitBlt(dc, 0, 0, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight, picture, 0, 0, SRCCOPY);
      ::ReleaseDC(w, dc);
    }
    ::GdiFlush();
  };
  skinned();  // warm caches: glyphs, surfaces
  blit();
  std::vector<double> skinnedTimes, blitTimes, drawTimes;
  for (int round = 0; round < kRounds; ++round) {
    double t = Now();
    skinned();
    skinnedTimes.push_back((Now() - t) / repaints);
    t = Now();
    blit();
    blitTimes.push_back((Now() - t) / repaints);
    t = Now();
    drawOnly();
    drawTimes.push_back((Now() - t) / repaints / static_cast<double>(window.buttons.size()));
    PumpPendingMessages();
  }
  const double s = Median(skinnedTimes), b = Median(blitTimes);
  std::printf("window %dx%d with %d skinned controls, %d repaints x %d rounds (medians)\n",
              CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight, window.Controls(), repaints, kRounds);
  std::printf("skinned repaint: %.1f us\nplain blit:      %.1f us\nratio:           %.2fx (goal at most 3x)\n",
              s * 1e6, b * 1e6, s / b);
  std::printf("one button's own drawing, called directly: %.1f us\n", Median(drawTimes) * 1e6);
  ::SelectObject(picture, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(picture);
  window.Destroy();
  return 0;
}
