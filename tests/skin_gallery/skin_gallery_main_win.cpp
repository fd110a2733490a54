// skin_gallery: every skinned control in every state, for people and for
// screenshots (not shipped).
//   skin_gallery                    the gallery until closed
//   skin_gallery gallery PNG        the gallery, saved as PNG, then exit
//   skin_gallery main PNG           the main window's frame and controls, saved
//   skin_gallery blocked PNG        the TAP driver installation behind the
//                                   blocked operation dialog, saved while it runs
#include "platform/win32.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/dlg_blocked_operation_win.h"
#include "skin/registered_skin.h"
#include "skin/skin_platform_win.h"
#include "skin_gallery/gallery_dialog_win.h"
#include "skin_gallery/main_window_mock_win.h"
#include "skin_gallery/screenshot_win.h"
#include "text/text_table.h"
#include "ui/message_loop_win.h"

namespace {

void Settle(int ms) {
  const DWORD until = ::GetTickCount() + static_cast<DWORD>(ms);
  while (static_cast<int>(until - ::GetTickCount()) > 0) {
    PumpPendingMessages();
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

HWND FindOwnWindow(const wchar_t* title) {
  for (int i = 0; i < 200; ++i) {
    HWND w = ::FindWindowW(nullptr, title);
    DWORD process = 0;
    if (w) ::GetWindowThreadProcessId(w, &process);
    if (w && ::IsWindowVisible(w) && process == ::GetCurrentProcessId()) return w;
    ::Sleep(20);
  }
  return nullptr;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  const std::wstring out = argc > 2 ? argv[2] : L"";

  LoadTextTable();
  ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  RegisterSkin(GetSkinAttributes());
  // Keep the pointer off the window so only the forced states show.
  ::SetCursorPos(0, 0);

  if (mode == L"blocked") {
    int rc = 1;
    // The dialog's own thread is busy running it: look from another one.
    std::thread shooter([&] {
      HWND dialog = FindOwnWindow(L"Quillnet");
      if (!dialog) return;
      ::Sleep(1200);
      rc = SaveWindow(dialog, out) ? 0 : 2;
    });
    RunTapDriverInstallation(nullptr);
    shooter.join();
    return rc;
  }

  if (mode == L"main") {
    CDlgMainWindowMock main;
    if (!main.Create()) return 1;
    main.Show(true);
    Settle(1500);
    const bool ok = SaveWindow(main.Handle(), out);
    main.Destroy();
    return ok ? 0 : 2;
  }

  CDlgSkinGallery gallery;
  gallery.quitWhenClosed = true;
  if (!gallery.Create()) return 1;
  // Top-left of the screen, so that it fits whatever size the display has.
  ::SetWindowPos(gallery.Handle(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  std::fprintf(stderr, "screen %dx%d\n", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  gallery.Show(true);
  if (mode == L"gallery") {
    Settle(1500);
    const bool ok = SaveWindow(gallery.Handle(), out);
    gallery.Destroy();
    return ok ? 0 : 2;
  }
  return RunMessageLoop();
}
