// The start-up benchmark's baseline: the least a Win32 program does to show
// a window of the main window's size.
#include "platform/win32.h"

namespace {
LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = &Proc;
  cls.hInstance = instance;
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  cls.lpszClassName = L"QuillnetBaseline";
  ::RegisterClassW(&cls);
  HWND window = ::CreateWindowExW(0, cls.lpszClassName, L"Quillnet Baseline", WS_POPUP | WS_SYSMENU, 100, 100, 327, 464,
                                  nullptr, nullptr, instance, nullptr);
  ::ShowWindow(window, SW_SHOW);
  ::UpdateWindow(window);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
