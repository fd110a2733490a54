// Repaint of the skinned main window (327x464, frame, picture and its twenty
// controls) against two baselines measured in the same run under Wine: the
// same layout built from the platform's own themed controls (what a dialog
// without a skin costs), and a plain blit of a same-sized bitmap into the
// skinned window (what no dialog can beat).
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

namespace {

// The skinned window's controls again, each at the same place with the same
// text and font, as standard controls in a captioned dialog whose client
// area has the skinned window's size.
class CThemedMainWindow : public CDialog {
 public:
  explicit CThemedMainWindow(const CDlgMainWindowMock& skinned) : skinned_(skinned) {}
  int controls = 0;

 protected:
  bool OnInitDialog() override {
    SetText(L"Quillnet");
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, style);
    RECT frame{0, 0, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    for (const auto& b : skinned_.buttons) Copy(*b, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0);
    for (const auto& t : skinned_.statics) Copy(*t, L"STATIC", SS_LEFT | SS_NOPREFIX, 0);
    Copy(skinned_.account, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE);
    Copy(skinned_.password, L"EDIT", ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, WS_EX_CLIENTEDGE);
    Copy(skinned_.savePassword, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0);
    return true;
  }
  void OnCancel() override { Destroy(); }

 private:
  void Copy(const CWnd& from, const wchar_t* windowClass, DWORD style, DWORD exStyle) {
    const RECT r = from.RectInParent();
    HWND control = ::CreateWindowExW(exStyle, windowClass, from.Text().c_str(), WS_CHILD | WS_VISIBLE | style, r.left,
                                     r.top, r.right - r.left, r.bottom - r.top, Handle(), nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
    if (!control) return;
    // A skinned control that draws with a skin font answers no font: the
    // dialog's own font stands in.
    HFONT font = from.Font() ? from.Font() : Font();
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ++controls;
  }
  const CDlgMainWindowMock& skinned_;
};

}  // namespace

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
  CThemedMainWindow themedWindow(window);
  if (!themedWindow.Create()) return 1;
  // Side by side, neither covering the other, the pointer away from both.
  ::SetWindowPos(window.Handle(), nullptr, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(themedWindow.Handle(), nullptr, 40 + CDlgMainWindowMock::kWidth, 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  window.Show(true);
  themedWindow.Show(true);
  PumpPendingMessages();
  const HWND w = window.Handle();
  const HWND themed = themedWindow.Handle();
  if (themedWindow.controls != window.Controls()) {
    std::fprintf(stderr, "the themed copy has %d controls, the skinned window %d\n", themedWindow.controls,
                 window.Controls());
    return 1;
  }

  // The baseline's bitmap: the window's own look, blitted as one piece.
  HDC windowDc = ::GetDC(w);
  HDC picture = ::CreateCompatibleDC(windowDc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(windowDc, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight);
  HGDIOBJ old = ::SelectObject(picture, bitmap);
  ::BitBlt(picture, 0, 0, CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight,
           window.skinWindow.BackgroundSurface(), 0, 0, SRCCOPY);
  ::ReleaseDC(w, windowDc);

  // The whole window each time; the frame too, since the skin draws its own
  // caption where the themed window's is non-client.
  auto repaint = [&](HWND target) {
    for (int i = 0; i < repaints; ++i)
      ::RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::GdiFlush();
  };
  auto skinned = [&] { repaint(w); };
  auto standard = [&] { repaint(themed); };
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
  skinned();  // warm caches: glyphs, surfaces, themes
  standard();
  blit();
  std::vector<double> skinnedTimes, themedTimes, blitTimes, drawTimes, themedRatios;
  for (int round = 0; round < kRounds; ++round) {
    double t = Now();
    skinned();
    skinnedTimes.push_back((Now() - t) / repaints);
    t = Now();
    standard();
    themedTimes.push_back((Now() - t) / repaints);
    // Per round, so that a busy moment of the machine falls on both.
    themedRatios.push_back(skinnedTimes.back() / themedTimes.back());
    t = Now();
    blit();
    blitTimes.push_back((Now() - t) / repaints);
    t = Now();
    drawOnly();
    drawTimes.push_back((Now() - t) / repaints / static_cast<double>(window.buttons.size()));
    PumpPendingMessages();
  }
  const double s = Median(skinnedTimes), th = Median(themedTimes), b = Median(blitTimes);
  std::printf("window %dx%d with %d skinned controls, %d repaints x %d rounds (medians)\n",
              CDlgMainWindowMock::kWidth, CDlgMainWindowMock::kHeight, window.Controls(), repaints, kRounds);
  std::printf("skinned repaint:        %.1f us\nthemed controls repaint: %.1f us\nplain blit:             %.1f us\n",
              s * 1e6, th * 1e6, b * 1e6);
  std::printf("skinned vs themed controls: %.2fx (median of per-round ratios %.2fx; goal at most 1.5x)\n", s / th,
              Median(themedRatios));
  std::printf("skinned vs plain blit: %.2fx\n", s / b);
  std::printf("one button's own drawing, called directly: %.1f us\n", Median(drawTimes) * 1e6);
  ::SelectObject(picture, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(picture);
  themedWindow.Destroy();
  window.Destroy();
  return 0;
}
